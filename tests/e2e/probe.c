/* Window probe for the end-to-end tests. Runs under Wine beside the program under test and
 * prints, as one JSON object per line, what a user could read off the screen: every visible
 * top-level window with its class, title, owner, process, screen rectangles, and its child
 * controls with their texts. (A menu of another process cannot be read under Wine: its texts
 * are checked against a reference window instead, see --menu-window.)
 *
 *   probe.exe OUT        every visible top-level window, written to the file OUT
 *   probe.exe OUT all    also the hidden ones
 *   probe.exe --menu-window "MENU|ITEM|ITEM..." ...
 *                        shows a window titled "e2e menu reference" whose menu bar holds the
 *                        given menus and items, until it is closed: the same Wine draws it
 *                        with the same fonts, so its menus are what the expected texts look like
 *
 * Output goes to a file, never to standard output: the first Wine program of a session starts
 * the prefix's background processes, and they would inherit and hold a pipe open. Texts are
 * written as UTF-8. Built with MinGW (-municode), linked statically. */
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
    printf(",\"children\":[");
    int first = 1;
    EnumChildWindows(hwnd, each_child, (LPARAM)&first);
    printf("]}\n");
    return TRUE;
}

static LRESULT CALLBACK reference_proc(HWND hwnd, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, w, l);
}

static int menu_window(int count, wchar_t **menus) {
    HMENU bar = CreateMenu();
    for (int i = 0; i < count; ++i) {
        HMENU popup = CreatePopupMenu();
        /* "MENU|ITEM|ITEM": the bars become terminators, the pieces follow one another. */
        wchar_t *title = menus[i];
        wchar_t *end = title + wcslen(title);
        for (wchar_t *p = title; p < end; ++p)
            if (*p == L'|') *p = 0;
        int id = 100;
        for (wchar_t *item = title + wcslen(title) + 1; item < end; item += wcslen(item) + 1)
            AppendMenuW(popup, MF_STRING, id++, item);
        AppendMenuW(bar, MF_POPUP, (UINT_PTR)popup, title);
    }
    WNDCLASSW wc = {0};
    wc.lpfnWndProc = reference_proc;
    wc.hInstance = GetModuleHandleW(NULL);
    wc.hCursor = LoadCursorW(NULL, (LPCWSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    wc.lpszClassName = L"E2EMenuReference";
    RegisterClassW(&wc);
    HWND hwnd = CreateWindowExW(0, L"E2EMenuReference", L"e2e menu reference",
                                WS_OVERLAPPEDWINDOW, 560, 0, 400, 450, NULL, bar, wc.hInstance,
                                NULL);
    if (!hwnd) return 1;
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    MSG msg;
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

int wmain(int argc, wchar_t **argv) {
    if (argc < 2) return 2;
    if (wcscmp(argv[1], L"--menu-window") == 0) return menu_window(argc - 2, argv + 2);
    FILE *out = _wfopen(argv[1], L"wb");
    if (!out) return 1;
    /* Everything above prints to stdout; point it at the file. */
    fflush(stdout);
    if (_dup2(_fileno(out), _fileno(stdout)) != 0) return 1;
    _setmode(_fileno(stdout), _O_BINARY);
    int all = argc > 2 && wcscmp(argv[2], L"all") == 0;
    EnumWindows(each_window, all);
    fflush(stdout);
    fclose(out);
    return 0;
}
