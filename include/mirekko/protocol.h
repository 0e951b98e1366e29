/*
 * Everything that crosses between the Mirekko programs and the programs around them: the
 * controller's window and its messages, the mascot host's names, and the SSTP requests that
 * make the mascot speak. The values are fixed by the controller and the mascot host that
 * users already run; none of them may change.
 *
 * This header needs nothing else (not even <windows.h>), so that the pure, platform-free
 * parts of the suite can use it too.
 */
#ifndef MIREKKO_PROTOCOL_H
#define MIREKKO_PROTOCOL_H

/* ---- The controller ---------------------------------------------------------------------
 * The controller owns a hidden window with this title, which exists before HookStart and
 * stays until after HookExit. The library finds it by this title alone (no class name) before
 * every send, and sends with SendMessage, so that each message has been handled when the send
 * returns. */
#define MK_CONTROLLER_TITLE "MK_GETMSG_WND"

/* The mutex that exists, under this name, from HookStart until HookExit. Nothing waits on it:
   its existence tells that the suite's hooks are in place. */
#define MK_MUTEX_NAME "MKP"

/* The messages the controller's window receives. WM_USER is 0x0400.
 *
 * MK_WM_COMMAND   (WM_USER+0) a suite command chosen from the mascot's menu, sent from a
 *                 worker thread in the mascot host: wParam = mascot window, lParam = command
 *                 identifier (1000..65535; the host's own, below 1000, never come). Result
 *                 not used.
 * MK_WM_REFRESH   (WM_USER+1) from MKRefresh; wParam and lParam 0. Result not used.
 * MK_WM_GETMENU   (WM_USER+2) from HookStart and InMKRefresh; wParam and lParam 0. Answer with
 *                 a menu handle: the library owns it from then on and destroys it in
 *                 InMKRefresh (before asking again) and in HookExit.
 * MK_WM_GETPOPUP  (WM_USER+3) from inside the mascot host while its context menu opens;
 *                 wParam and lParam 0. Answer with the suite's pop-up menu, which is inserted
 *                 into the mascot's menu as "Mirekko(&F)" and never destroyed by the library.
 *                 An answer that takes longer than 2 s comes too late for that opening.
 * MK_WM_DROPFILE  (WM_USER+4) a file dropped on the mascot: wParam = mascot window. The file's
 *                 path (ANSI code page) is the window's title at that moment, set just before;
 *                 lParam points at the path in the host's memory and is of no use elsewhere.
 *                 Set the title back to MK_CONTROLLER_TITLE afterwards, at once or within
 *                 5 s: the next drop's title waits that long for it. A thread of the library
 *                 sets the title and sends this message, so that the two always arrive
 *                 together; the host's own thread waits for them at most 5 s and then goes
 *                 on, and a controller that was slow still gets both when it serves again
 *                 within 60 s of the drop. Past that the drop is not sent, and the title is
 *                 put back if it still reads its path. One drop is handed over at a time,
 *                 from all hosts together (MK_DROP_MUTEX_NAME): the title is the path of the
 *                 drop whose WM_USER+4 is under way. On Windows the title of another
 *                 process's window is set without a message: do not wait for a WM_SETTEXT,
 *                 read the title when WM_USER+4 comes. The path names the dropped file, or
 *                 holds "?" for each character of it that the code page has none for. */
#define MK_WM_COMMAND (0x0400 + 0)
#define MK_WM_REFRESH (0x0400 + 1)
#define MK_WM_GETMENU (0x0400 + 2)
#define MK_WM_GETPOPUP (0x0400 + 3)
#define MK_WM_DROPFILE (0x0400 + 4)

/* Held by the library's thread that hands a drop over, from the title until the controller has
   its title back (or 5 s after WM_USER+4), in whichever host it runs: the controller is shared
   by all hosts, and a second title set before the first WM_USER+4 was handled and the title
   taken back would have both read the second path. */
#define MK_DROP_MUTEX_NAME "MirekkoDropExchange"

/* The suite's commands carry identifiers from this one up. */
#define MK_FIRST_SUITE_COMMAND 1000

/* ---- The mascot host ---------------------------------------------------------------------
 * Its process images (matched, lower-cased, anywhere in the image path), its two window
 * classes (compared whole and case-sensitively) and the shared memory that lists its windows:
 * from byte 4, entries "<id>.<key>\x01<value>\r\n" up to the first zero byte; keys containing
 * "hwnd" hold window handles in decimal. */
#define MK_HOST_IMAGE_SAKURA "sakura.exe"
#define MK_HOST_IMAGE_EMBRYO "embryo.exe"
#define MK_HOST_IMAGE_SSP "ssp.exe"
#define MK_HOST_MENU_CLASS "TPUtilWindow"
#define MK_HOST_MAIN_CLASS "Tmainform"
#define MK_HOST_SHARED_MEMORY "Sakura"

/* ---- SSTP requests to the mascot ---------------------------------------------------------
 * WM_COPYDATA (0x004A) sent to a mascot window: wParam = the sender's window; lParam = a
 * COPYDATASTRUCT with dwData = MK_SSTP_COPYDATA_ID, lpData = the request text in Shift_JIS,
 * cbData = its length in bytes without a terminating zero.
 *
 * The text is a request line, then the headers "Sender", "Script", "HWnd" and "Charset" in
 * this order, each as name, colon, blank, value, joined by CR LF, with no empty line. The two
 * senders write two shapes, and they differ on purpose: the mascot host takes both, and each
 * is what that sender has always sent.
 *   - the hook library's notice: request line MK_SSTP_NOTICE_REQUEST_LINE, and no CR LF after
 *     the last header;
 *   - the plug-in: request line MK_SSTP_PLUGIN_REQUEST_LINE, and a CR LF after every header,
 *     the last one included. */
#define MK_SSTP_COPYDATA_ID 9801
#define MK_SSTP_NOTICE_REQUEST_LINE "SEND SSTP/1.4"
#define MK_SSTP_PLUGIN_REQUEST_LINE "SEND SSTP/1.5"
#define MK_SSTP_SENDER "Mirekko"
#define MK_SSTP_CHARSET "Shift_JIS"

/* ---- Tracing the hook library -------------------------------------------------------------
 * While a kernel object of this name exists (mktrace.exe makes an event of it), the hook
 * procedures write one line per message they handle to the debug output (OutputDebugStringA,
 * from a thread of the library): the message, the window's class, the image test's answer, the
 * decision and the time it took. The library looks for the object at most twice a second in
 * each process. */
#define MK_TRACE_SWITCH_NAME "MirekkoTrace"

#endif
