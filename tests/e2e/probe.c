/* Window probe for the end-to-end tests. Runs under Wine beside the program under test and
 * prints, as one JSON object per line, what a user could read off the screen: every visible
 * top-level window with its class, title, owner, process, screen rectangles, child controls and
 * their texts, and the window's menu bar with all its items.
 *
 *   probe.exe            every visible top-level window
 *   probe.exe all        also the hidden ones
 *
 * Texts are written as UTF-8. Built with MinGW (-municode), linked statically. */
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <wchar.h>

static void put_json_string(const wchar_t *text) {
    char utf8[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8, NULL, NULL);
    if (n <= 0) utf8[0] = 0;
    putchar('"');
    for (const unsigned char *p = (const unsigned char *)utf8; *p; ++p) {
        if (*p == '"' || *p == '\\') printf("\\%c", *p);
        else if (*p < 0x20) printf("\\u%04x", *p);
        else putchar(*p);
    }
    putchar('"');
}

static void window_text(HWND hwnd, wchar_t *text, int size) {
    text[0] = 0;
    DWORD_PTR ignored;
    /* WM_GETTEXT reaches controls of another process; GetWindowTextW would not ask them. */
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, 2000, &ignored))
        GetWindowTextW(hwnd, text, size);
}

static void put_rect(const char *name, RECT r) {
    printf("\"%s\":[%ld,%ld,%ld,%ld]", name, r.left, r.top, r.right, r.bottom);
}

static void put_menu(HMENU menu, int depth) {
    putchar('[');
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        wchar_t text[512];
        if (GetMenuStringW(menu, i, text, 512, MF_BYPOSITION) < 0) text[0] = 0;
        HMENU sub = GetSubMenu(menu, i);
        printf("%s{\"text\":", i ? "," : "");
        put_json_string(text);
        printf(",\"id\":%d", sub ? -1 : (int)GetMenuItemID(menu, i));
        if (sub && depth < 4) {
            printf(",\"items\":");
            put_menu(sub, depth + 1);
        }
        putchar('}');
    }
    putchar(']');
}

static BOOL CALLBACK each_child(HWND hwnd, LPARAM first) {
    wchar_t cls[256], text[2048];
    GetClassNameW(hwnd, cls, 256);
    window_text(hwnd, text, 2048);
    RECT r;
    GetWindowRect(hwnd, &r);
    if (!*(int *)first) putchar(',');
    *(int *)first = 0;
    printf("{\"class\":");
    put_json_string(cls);
    printf(",\"id\":%d,\"text\":", GetDlgCtrlID(hwnd));
    put_json_string(text);
    printf(",\"visible\":%s,", IsWindowVisible(hwnd) ? "true" : "false");
    put_rect("rect", r);
    putchar('}');
    return TRUE;
}

static BOOL CALLBACK each_window(HWND hwnd, LPARAM all) {
    if (!all && !IsWindowVisible(hwnd)) return TRUE;
    wchar_t cls[256], title[1024], image[MAX_PATH] = L"";
    GetClassNameW(hwnd, cls, 256);
    GetWindowTextW(hwnd, title, 1024);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process) {
        DWORD size = MAX_PATH;
        if (!QueryFullProcessImageNameW(process, 0, image, &size)) image[0] = 0;
        CloseHandle(process);
    }
    RECT outer, client;
    GetWindowRect(hwnd, &outer);
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    OffsetRect(&client, origin.x, origin.y);

    printf("{\"hwnd\":%llu,\"pid\":%lu,\"image\":", (unsigned long long)(UINT_PTR)hwnd, pid);
    put_json_string(image);
    printf(",\"class\":");
    put_json_string(cls);
    printf(",\"title\":");
    put_json_string(title);
    printf(",\"owner\":%llu,\"visible\":%s,\"enabled\":%s,",
           (unsigned long long)(UINT_PTR)GetWindow(hwnd, GW_OWNER),
           IsWindowVisible(hwnd) ? "true" : "false", IsWindowEnabled(hwnd) ? "true" : "false");
    put_rect("rect", outer);
    putchar(',');
    put_rect("client", client);
    HMENU menu = GetMenu(hwnd);
    if (menu && IsMenu(menu)) {
        printf(",\"menu\":");
        put_menu(menu, 0);
    }
    printf(",\"children\":[");
    int first = 1;
    EnumChildWindows(hwnd, each_child, (LPARAM)&first);
    printf("]}\n");
    return TRUE;
}

int wmain(int argc, wchar_t **argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    int all = argc > 1 && wcscmp(argv[1], L"all") == 0;
    EnumWindows(each_window, all);
    fflush(stdout);
    return 0;
}
