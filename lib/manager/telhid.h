/*
 * telhid — USB desk telephones for Linux applications.
 *
 * The library finds the telephones (at start and on hot-plug), opens them and
 * turns what they report into one-line JSON event texts, handed to a callback
 * and/or written to a TCP connection that the library opens to a local
 * listener. Commands are named by the texts of the library's message table
 * (see load_string_list) and are written to one telephone or to all of them.
 *
 * Event text
 *   One JSON object on one line without blanks, followed by exactly one line
 *   feed, which is part of the text and counted in its length. Members appear
 *   in byte order of their names: "dev" (the telephone's number, an integer
 *   given when it was found, from 1 on), "event" (the event's name in the
 *   current language), and depending on the event "number", "time" and
 *   "value". UTF-8 is copied unescaped. Examples:
 *     {"dev":1,"event":"Phone attached","value":"0"}
 *     {"dev":1,"event":"电话按键","value":"1"}
 *     {"dev":1,"event":"来电","number":"88123456","time":"5-12 9:30"}
 *   A telephone is announced with "Phone attached" ("电话机插入 " in
 *   language 0, with its final space) once it has answered its version query
 *   (or 18 s after it was found); its events before that are not delivered.
 *   On unplugging, an announced telephone gives "Phone removed".
 *
 * Threads
 *   Unless stated otherwise, a function may be called from any application
 *   thread. The start and stop functions must not run concurrently with each
 *   other, and must never be called from inside the event callback.
 */
#ifndef TELHID_H
#define TELHID_H

#ifdef __cplusplus
extern "C" {
#endif

#define TELHID_API __attribute__((visibility("default")))

/* Result codes. get_error_string() gives their texts. hid_send_cmd() may also
 * return the positive result of a device write. */
enum telhid_error {
    SUCCESS = 0,
    ERR_FAIL = -1,            /* start failed; library not started */
    ERR_BUFF_NOT_ENOUGH = -2, /* the encoded command does not fit */
    ERR_OVERFLOW = -3,        /* reserved */
    ERR_PERMISSION = -4,      /* reserved */
    ERR_UNKOWN_CMD = -5,      /* the command name is not a known command */
    ERR_WRONG_PARAM = -6,     /* the command's parameter text is missing or malformed */
    ERR_DEVICE = -8           /* reserved */
};

/*
 * Event callback.
 *   user:   the pointer given to hid_server_start.
 *   text:   the event text, zero-terminated; it ends in a line feed. It
 *           belongs to the library and is valid only during the call: copy
 *           it to keep it.
 *   length: the text's length in bytes, line feed included.
 * The result is ignored.
 *
 * Called on whichever thread produced the event: a telephone's reader thread
 * (its reports), the library's timer thread or a reader thread (the
 * "Phone attached" announcement), the library's scan thread ("Phone
 * removed"), and the caller's own thread inside hid_remount_dev(). Calls are
 * not serialised: the callback must be thread-safe and return promptly, as
 * the telephone's further reports wait meanwhile. It must not call
 * hid_server_start*, hid_server_stop, hid_remount_dev or hid_send_cmd.
 */
typedef int (*hid_event_cb)(void* user, const char* text, int length);

/*
 * Starts the library with event delivery to a callback only.
 * Returns 0, or ERR_FAIL (-1) when callback is null, when the library is
 * already running (nothing is changed then, the callback included), or when
 * its threads cannot be created.
 */
TELHID_API int hid_server_start(hid_event_cb callback, void* user);

/*
 * Starts the library; when port > 0, events (except the "Phone attached"
 * announcement of a newly found telephone) are also written, one line per
 * event, to a TCP connection that the library opens to host:port (host is a
 * dotted IPv4 address; null means "127.0.0.1"). The application must be
 * listening before the call; the connection is never read and not
 * re-established. A peer that goes away does not stop delivery to the
 * callback and raises no SIGPIPE.
 * Returns 0; ERR_FAIL (-1) when the library is already running (nothing is
 * changed), when neither a callback was set by an earlier hid_server_start
 * nor the connection could be made, or when its threads cannot be created.
 * When the connection fails but a callback is set, it returns 0 and events
 * go to the callback only.
 */
TELHID_API int hid_server_start_tcp(int port, const char* host);

/*
 * Stops the library: closes every telephone, ends its threads and the TCP
 * connection. No callback runs after it returns. Calling it when the library
 * is not running (before any start, or twice) does nothing. The library may
 * be started again; telephones then get new numbers.
 */
TELHID_API void hid_server_stop(void);

/*
 * Sends command `name` with parameter text `param` (may be null) to telephone
 * number `device`, or to every telephone when `device` is -1. Blocks while
 * the command's reports are paced out to the telephones (an SSS1629
 * telephone takes 32 ms per 3 command bytes); concurrent commands to one
 * telephone are written one after the other, never interleaved.
 * Returns the result of the last addressed telephone's write (the number of
 * command bytes written); 0 when no telephone is addressed; ERR_FAIL (-1)
 * when the library was never started; ERR_UNKOWN_CMD (-5), ERR_WRONG_PARAM
 * (-6) or ERR_BUFF_NOT_ENOUGH (-2) when the command cannot be encoded, in
 * which case nothing is written.
 */
TELHID_API int hid_send_cmd(const char* name, const char* param, int device);

/* Reserved. Returns 0, or ERR_FAIL (-1) when the library was never started;
 * never touches buffer. */
TELHID_API int hid_get_status(char* buffer, int size);

/*
 * Announces every attached telephone again: each announced telephone gives
 * a "Phone attached" event (without "value") on both channels, delivered on
 * the calling thread before this returns; telephones still being set up give
 * none. Returns the number of telephones attached (announced or not), or
 * ERR_FAIL (-1) when the library was never started.
 */
TELHID_API int hid_remount_dev(void);

/*
 * Lists the names of all commands (name null or "command") or all events
 * ("event") in the current language as the JSON text {"command":[...]} or
 * {"event":[...]}, followed by a line feed. When out is not null, copies it
 * like strncpy(out, text, size): a text of size bytes or more is cut and not
 * zero-terminated. A negative size is treated as 0. reserved is ignored.
 * Returns the full length of the text in bytes, or 0 for any other name.
 * Works before a start.
 */
TELHID_API int load_string_list(const char* name, char* out, int size, void* reserved);

/* Returns the library version text "1.1.0.6x". Any time, any thread. */
TELHID_API const char* hid_server_version(void);

/* Returns the text of result code `code` (or of its negative) in the current
 * language, or null for a number that is no result code. Any time. */
TELHID_API const char* get_error_string(int code);

/*
 * Selects the language of every text produced afterwards: 0 Chinese,
 * 1 English (event names, lists, error texts). Any other value is refused
 * and leaves the language as it was. Returns the language index that was
 * set before the call. Any time; texts being built meanwhile may use either.
 */
TELHID_API int set_language(int language);

/*
 * Resets the USB device vendor:product through libusb (detaching its kernel
 * driver from interface 0 first). Reports progress and failures on standard
 * output; needs the permission to open the USB device.
 */
TELHID_API void reset_device(int vendor, int product);

/* Driver registered for key (vendor << 16 | product), or null; null before
 * the first start. For diagnostics. */
#ifdef __cplusplus
class CHidDriver;
TELHID_API const CHidDriver* get_driver(unsigned key);
#else
struct CHidDriver;
TELHID_API const struct CHidDriver* get_driver(unsigned key);
#endif

/* Value of BEATHEART in $HOME/.config/.vexconfig (low 8 bits), read at each
 * start; 0 until a file sets it. Kept for the application; the library does
 * not use it. */
TELHID_API extern unsigned char gheckBeatheart;

#ifdef __cplusplus
}
#endif

#endif /* TELHID_H */
