# Release package; filled in with the package layout.
