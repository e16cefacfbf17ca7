/* A small application built against an installed libtelhid: waits for a
 * telephone, sends it a command, waits for a key press, stops. */
#define _POSIX_C_SOURCE 200809L

#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <telhid.h>

static atomic_int attached;
static atomic_int key_pressed;

static int on_event(void* user, const char* text, int length)
{
    (void)user;
    printf("event: %.*s", length, text);
    fflush(stdout);
    if (strstr(text, "\"Phone attached\""))
        atomic_store(&attached, 1);
    if (strstr(text, "\"event\":\"电话按键\""))
        atomic_store(&key_pressed, 1);
    return 0;
}

static int wait_for(atomic_int* flag, int seconds)
{
    struct timespec step = {0, 50 * 1000 * 1000};
    for (int i = 0; i < seconds * 20 && !atomic_load(flag); ++i)
        nanosleep(&step, NULL);
    return atomic_load(flag);
}

int main(void)
{
    printf("library %s\n", hid_server_version());
    set_language(1);
    if (hid_server_start(on_event, NULL) != 0) {
        printf("start failed\n");
        return 1;
    }
    if (!wait_for(&attached, 20)) {
        printf("no telephone\n");
        hid_server_stop();
        return 1;
    }
    int r = hid_send_cmd("读取版本信息", NULL, -1);
    printf("command: %d %s\n", r, get_error_string(r > 0 ? 0 : r));
    int key = wait_for(&key_pressed, 30);
    hid_server_stop();
    printf(key ? "done\n" : "no key\n");
    return key ? 0 : 1;
}
