/* The baseline tintrava-play is measured against: the least a player can
 * do for the same lamp exchanges, in plain C. It loads a D2XX driver library
 * (the virtual lamp in the bench), and per tick (the first at once, then one
 * a second) runs discovery, the probe while the protocol is unknown, and one
 * colour command, each exchange opened and closed as tintrava-play does
 * (115200 baud, time-outs 100/100, 8N2, write, 200 ms, queue status, read of
 * 20, close; byte frames at 9600 8N2). The off comes after the last tick.
 *
 *   tintrava-minimal-player LIBRARY COMMAND...
 *
 * Each COMMAND is one tick's text command without CR LF (e.g. CFF7D00); a
 * byte lamp gets frame byte 2 from the hex digits after "B" (e.g. B45).
 * No sequence file, no colour table, no output: only the exchanges. */
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

typedef void *FT_HANDLE;
typedef unsigned int FT_STATUS;
typedef unsigned int DWORD;
typedef unsigned int ULONG;
typedef unsigned char UCHAR;

#define FT_OK 0u
#define FT_LIST_NUMBER_ONLY 0x80000000u
#define FT_LIST_BY_INDEX 0x40000000u
#define FT_OPEN_BY_SERIAL_NUMBER 1u
#define FT_OPEN_BY_DESCRIPTION 2u

static FT_STATUS (*ListDevices)(void *, void *, DWORD);
static FT_STATUS (*OpenEx)(void *, DWORD, FT_HANDLE *);
static FT_STATUS (*Close)(FT_HANDLE);
static FT_STATUS (*Read)(FT_HANDLE, void *, DWORD, DWORD *);
static FT_STATUS (*Write)(FT_HANDLE, void *, DWORD, DWORD *);
static FT_STATUS (*SetBaudRate)(FT_HANDLE, ULONG);
static FT_STATUS (*SetDataCharacteristics)(FT_HANDLE, UCHAR, UCHAR, UCHAR);
static FT_STATUS (*SetTimeouts)(FT_HANDLE, ULONG, ULONG);
static FT_STATUS (*GetQueueStatus)(FT_HANDLE, DWORD *);

static char serial[64];
static int protocol; /* 0 unknown, 1 byte, 2 text */

static void sleep_ms(long ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&t, &t) != 0) {
    }
}

static int discover(void)
{
    DWORD count = 0;
    char text[65];
    int found = 0;
    if (ListDevices(&count, NULL, FT_LIST_NUMBER_ONLY) != FT_OK)
        count = 0;
    for (DWORD i = 0; i < count; ++i) {
        memset(text, 0, sizeof text);
        if (ListDevices((void *)(unsigned long)i, text, FT_LIST_BY_INDEX | FT_OPEN_BY_DESCRIPTION) != FT_OK)
            continue;
        if (strcmp(text, "Sela-Lumen") != 0 && !(strlen(text) == 22 && text[0] == 'V' && text[1] == 'C' && text[12] == 'V'))
            continue;
        memset(text, 0, sizeof text);
        if (ListDevices((void *)(unsigned long)i, text, FT_LIST_BY_INDEX | FT_OPEN_BY_SERIAL_NUMBER) != FT_OK)
            continue;
        snprintf(serial, sizeof serial, "%.*s", (int)(sizeof serial - 1), text);
        found = 1;
    }
    if (!found)
        protocol = 0;
    return found;
}

/* One text exchange; returns the number of reply bytes other than CR LF. */
static int text_exchange(const char *command)
{
    FT_HANDLE h;
    unsigned char out[64], in[20];
    DWORD n = 0, queue = 0;
    int reply = 0;
    size_t length = strlen(command);
    if (OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h) != FT_OK)
        return 0;
    SetBaudRate(h, 115200);
    SetTimeouts(h, 100, 100);
    SetDataCharacteristics(h, 8, 2, 0);
    memcpy(out, command, length);
    out[length] = '\r';
    out[length + 1] = '\n';
    Write(h, out, (DWORD)(length + 2), &n);
    sleep_ms(200);
    GetQueueStatus(h, &queue);
    n = 0;
    Read(h, in, 20, &n);
    for (DWORD i = 0; i < n && i < 20; ++i)
        if (in[i] != '\r' && in[i] != '\n')
            ++reply;
    Close(h);
    return reply;
}

static void byte_exchange(unsigned char frame)
{
    FT_HANDLE h;
    unsigned char out[2] = {0xFF, frame};
    DWORD n = 0;
    if (OpenEx(serial, FT_OPEN_BY_SERIAL_NUMBER, &h) != FT_OK)
        return;
    SetBaudRate(h, 9600);
    SetDataCharacteristics(h, 8, 2, 0);
    Write(h, out, 2, &n);
    Close(h);
}

static void command(const char *text)
{
    if (!discover())
        return;
    if (protocol == 0)
        protocol = text_exchange("VER") > 0 ? 2 : 1;
    if (protocol == 2)
        text_exchange(text[0] == 'B' ? "C000000" : text);
    else
        byte_exchange((unsigned char)strtoul(text[0] == 'B' ? text + 1 : "4B", NULL, 16));
}

#define BIND(name, symbol)                                                                                   \
    do {                                                                                                     \
        *(void **)(&name) = dlsym(library, symbol);                                                          \
        if (!name) {                                                                                         \
            fprintf(stderr, "%s missing\n", symbol);                                                         \
            return 2;                                                                                        \
        }                                                                                                    \
    } while (0)

int main(int argc, char **argv)
{
    struct timespec next;
    if (argc < 2) {
        fprintf(stderr, "usage: %s LIBRARY COMMAND...\n", argv[0]);
        return 2;
    }
    void *library = dlopen(argv[1], RTLD_NOW);
    if (!library) {
        fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    BIND(ListDevices, "FT_ListDevices");
    BIND(OpenEx, "FT_OpenEx");
    BIND(Close, "FT_Close");
    BIND(Read, "FT_Read");
    BIND(Write, "FT_Write");
    BIND(SetBaudRate, "FT_SetBaudRate");
    BIND(SetDataCharacteristics, "FT_SetDataCharacteristics");
    BIND(SetTimeouts, "FT_SetTimeouts");
    BIND(GetQueueStatus, "FT_GetQueueStatus");

    discover();
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 2; i <= argc; ++i) {
        /* The last round is the off: "C000000", or frame 4B on a byte lamp. */
        command(i < argc ? argv[i] : "B4B");
        if (i == argc)
            break;
        next.tv_sec += 1;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, NULL) != 0) {
        }
    }
    return 0;
}
