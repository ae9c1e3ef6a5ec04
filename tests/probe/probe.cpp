// probe: looks at and drives the windows of other processes the way a user
// would, for the end-to-end tests. Prints one JSON object per line.
//
// Texts are read with the wide-character calls and printed as UTF-8: what a
// window holds in Unicode is what the screen shows, so a program running
// with the wrong ANSI code page shows up as garbled text instead of being
// hidden by a round trip through the same wrong code page.
#include <windows.h>
#include <shellapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static const char Usage[] =
    "usage: probe <command> [arguments]\n"
    "  windows [--class C] [--pid P]             top-level windows, visible or not\n"
    "  wait-window --class C [--title-prefix T] [--pid P] [--visible] [--exclude h1,h2]\n"
    "              [--timeout ms]\n"
    "                                            first matching window; exit 1 at the deadline\n"
    "  wait-gone <hwnd> [--timeout ms]           until the window no longer exists\n"
    "  text <hwnd>                               the window's text\n"
    "  children <hwnd>                           child windows: class, id, text, rect\n"
    "  wait-box [--caption C] [--pid P] [--timeout ms]\n"
    "                                            a message box (#32770): caption, text, buttons, icon, owner\n"
    "  answer <hwnd|--caption C> <IDOK|IDCANCEL|IDYES|IDNO|1..7> [--timeout ms]\n"
    "                                            presses the button and waits for the box to close\n"
    "  post <hwnd> <msg> <wparam> <lparam>       PostMessage (msg by name or number)\n"
    "  send <hwnd> <msg> <wparam> <lparam>       SendMessageTimeout, 5 s\n"
    "  focus <hwnd>                              SetForegroundWindow\n"
    "  foreground                                the foreground window\n"
    "  show <hwnd> <SW_*|number>                 ShowWindow\n"
    "  screen                                    primary screen size\n"
    "  codepage                                  ANSI and OEM code pages\n"
    "  gbk-file <dir>                            creates a file with a Chinese name (a GBK literal) in <dir>\n"
    "  list <dir>                                names in <dir> through the ANSI file calls, read as GBK\n"
    "  serve                                     reads one command per line from stdin; ends each\n"
    "                                            answer with {\"done\":<exit code>}\n"
    "Numbers may be decimal or 0x-hex; wParam and lParam are full 32-bit values.\n";

static const DWORD DefaultTimeout = 10000;
// Polling interval of the wait commands: other processes' windows give no
// event we could wait on from here.
static const DWORD PollInterval = 15;
// How long a box's icon may take to reach the screen under load.
static const DWORD IconDeadline = 3000;

static std::string Utf8FromWide(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

static std::wstring WideFromBytes(const std::string& s, UINT codePage)
{
    if (s.empty())
        return std::wstring();
    int n = MultiByteToWideChar(codePage, 0, s.data(), (int)s.size(), NULL, 0);
    std::wstring w(n, L'\0');
    MultiByteToWideChar(codePage, 0, s.data(), (int)s.size(), &w[0], n);
    return w;
}

static std::string AnsiFromWide(const std::wstring& w)
{
    if (w.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_ACP, 0, w.data(), (int)w.size(), NULL, 0, NULL, NULL);
    std::string s(n, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), (int)w.size(), &s[0], n, NULL, NULL);
    return s;
}

static std::string Json(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += (char)c;
            }
        }
    }
    return out + "\"";
}

static std::string Json(const std::wstring& w)
{
    return Json(Utf8FromWide(w));
}
static std::string Json(unsigned long long v)
{
    return std::to_string(v);
}
static std::string Json(long v)
{
    return std::to_string(v);
}
static std::string JsonBool(bool b)
{
    return b ? "true" : "false";
}

static void Emit(const std::string& object)
{
    fputs(object.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

static int Fail(const std::string& message)
{
    Emit("{\"error\":" + Json(message) + "}");
    return 1;
}

static unsigned long Number(const std::wstring& s)
{
    return wcstoul(s.c_str(), NULL, 0);
}

static HWND HandleArg(const std::wstring& s)
{
    return (HWND)(UINT_PTR)Number(s);
}

static unsigned long long HandleValue(HWND h)
{
    return (unsigned long long)(UINT_PTR)h;
}

// Another process's window text goes through WM_GETTEXT; the time-out keeps
// a hung program from hanging the test.
static std::wstring WindowText(HWND hwnd)
{
    DWORD_PTR len = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &len))
        return std::wstring();
    std::vector<wchar_t> buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, buf.size(), (LPARAM)buf.data(), SMTO_ABORTIFHUNG, 3000, &got);
    return std::wstring(buf.data());
}

static std::wstring ClassOf(HWND hwnd)
{
    wchar_t buf[256] = {0};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

static std::string RectFields(HWND hwnd)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(hwnd, &r);
    return "\"x\":" + Json((long)r.left) + ",\"y\":" + Json((long)r.top) + ",\"w\":" + Json((long)(r.right - r.left)) +
           ",\"h\":" + Json((long)(r.bottom - r.top));
}

static DWORD ProcessOf(HWND hwnd)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

static std::string WindowJson(HWND hwnd)
{
    RECT c = {0, 0, 0, 0};
    GetClientRect(hwnd, &c);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    return "{\"hwnd\":" + Json(HandleValue(hwnd)) + ",\"pid\":" + Json((unsigned long long)ProcessOf(hwnd)) +
           ",\"class\":" + Json(ClassOf(hwnd)) + ",\"title\":" + Json(WindowText(hwnd)) + "," + RectFields(hwnd) +
           ",\"client_x\":" + Json((long)origin.x) + ",\"client_y\":" + Json((long)origin.y) +
           ",\"client_w\":" + Json((long)c.right) + ",\"client_h\":" + Json((long)c.bottom) +
           ",\"visible\":" + JsonBool(IsWindowVisible(hwnd)) + ",\"minimized\":" + JsonBool(IsIconic(hwnd)) +
           ",\"enabled\":" + JsonBool(IsWindowEnabled(hwnd)) +
           ",\"foreground\":" + JsonBool(GetForegroundWindow() == hwnd) +
           ",\"owner\":" + Json(HandleValue(GetWindow(hwnd, GW_OWNER))) +
           ",\"style\":" + Json((unsigned long long)(DWORD)GetWindowLongW(hwnd, GWL_STYLE)) +
           ",\"exstyle\":" + Json((unsigned long long)(DWORD)GetWindowLongW(hwnd, GWL_EXSTYLE)) + "}";
}

struct Filter {
    std::wstring cls;
    std::wstring titlePrefix;
    std::wstring title;
    DWORD pid = 0;
    bool visibleOnly = false;
    std::vector<HWND> excluded;
};

static bool Matches(HWND hwnd, const Filter& f)
{
    if (f.visibleOnly && !IsWindowVisible(hwnd))
        return false;
    for (HWND x : f.excluded)
        if (x == hwnd)
            return false;
    if (f.pid && ProcessOf(hwnd) != f.pid)
        return false;
    if (!f.cls.empty() && ClassOf(hwnd) != f.cls)
        return false;
    if (!f.title.empty() || !f.titlePrefix.empty()) {
        std::wstring t = WindowText(hwnd);
        if (!f.title.empty() && t != f.title)
            return false;
        if (t.compare(0, f.titlePrefix.size(), f.titlePrefix) != 0)
            return false;
    }
    return true;
}

struct Search {
    const Filter* filter;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param)
{
    Search* s = (Search*)param;
    if (Matches(hwnd, *s->filter))
        s->found.push_back(hwnd);
    return TRUE;
}

static std::vector<HWND> FindWindows(const Filter& f)
{
    Search s{&f, {}};
    EnumWindows(CollectTopLevel, (LPARAM)&s);
    return s.found;
}

static HWND WaitWindow(const Filter& f, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        std::vector<HWND> found = FindWindows(f);
        if (!found.empty())
            return found.front();
        if (GetTickCount() - start >= timeout)
            return NULL;
        Sleep(PollInterval);
    }
}

static BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param)
{
    ((std::vector<HWND>*)param)->push_back(hwnd);
    return TRUE;
}

static std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> all;
    EnumChildWindows(parent, CollectChild, (LPARAM)&all);
    return all;
}

static std::string ChildJson(HWND hwnd)
{
    return "{\"hwnd\":" + Json(HandleValue(hwnd)) + ",\"class\":" + Json(ClassOf(hwnd)) +
           ",\"id\":" + Json((unsigned long long)(DWORD)GetDlgCtrlID(hwnd)) + ",\"text\":" + Json(WindowText(hwnd)) +
           "," + RectFields(hwnd) + ",\"visible\":" + JsonBool(IsWindowVisible(hwnd)) +
           ",\"style\":" + Json((unsigned long long)(DWORD)GetWindowLongW(hwnd, GWL_STYLE)) + "}";
}

// Icon handles are not shared between processes under Wine, so the box's
// icon is told by its pixels: the icon control's screen area against each
// system icon drawn on the dialog colour.
static std::vector<COLORREF> Pixels(HDC source, int x, int y, int w, int h)
{
    HDC mem = CreateCompatibleDC(source);
    HBITMAP bmp = CreateCompatibleBitmap(source, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, source, x, y, SRCCOPY);
    std::vector<COLORREF> px;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i)
            px.push_back(GetPixel(mem, i, j));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    return px;
}

static std::vector<COLORREF> DrawnIcon(HICON icon, int w, int h)
{
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    RECT r = {0, 0, w, h};
    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_3DFACE));
    FillRect(mem, &r, face);
    DeleteObject(face);
    DrawIconEx(mem, 0, 0, icon, 0, 0, 0, NULL, DI_NORMAL | DI_DEFAULTSIZE);
    std::vector<COLORREF> px = Pixels(mem, 0, 0, w, h);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return px;
}

static const char* IconShown(HWND box, HWND child)
{
    RedrawWindow(box, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT r;
    GetWindowRect(child, &r);
    int w = GetSystemMetrics(SM_CXICON), h = GetSystemMetrics(SM_CYICON);
    HDC screen = GetDC(NULL);
    std::vector<COLORREF> shown = Pixels(screen, r.left, r.top, w, h);
    ReleaseDC(NULL, screen);
    struct {
        LPCSTR id;
        const char* name;
    } known[] = {{IDI_HAND, "error"},
                 {IDI_ASTERISK, "information"},
                 {IDI_QUESTION, "question"},
                 {IDI_EXCLAMATION, "warning"}};
    const char* best = "unknown";
    size_t bestDiff = shown.size() / 10 + 1;
    for (auto& k : known) {
        std::vector<COLORREF> drawn = DrawnIcon(LoadIconA(NULL, k.id), w, h);
        size_t diff = 0;
        for (size_t i = 0; i < shown.size(); ++i)
            diff += shown[i] != drawn[i];
        if (diff < bestDiff) {
            bestDiff = diff;
            best = k.name;
        }
    }
    return best;
}

static const char* IconName(HWND box)
{
    for (HWND child : Children(box)) {
        if (ClassOf(child) != L"Static" || (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        if (!IsWindowVisible(child))
            return "none";
        // A box just shown may not be on the screen yet (the X server maps
        // it a moment later, or it has not painted): have it paint and look
        // again until one of the system's icons is there, within a deadline.
        const char* best = "unknown";
        for (DWORD start = GetTickCount(); GetTickCount() - start < IconDeadline; Sleep(PollInterval)) {
            best = IconShown(box, child);
            if (strcmp(best, "unknown") != 0)
                break;
        }
        return best;
    }
    return "none";
}

static std::string BoxJson(HWND box)
{
    std::wstring text;
    std::string statics, buttons;
    for (HWND child : Children(box)) {
        std::wstring cls = ClassOf(child);
        int id = GetDlgCtrlID(child);
        if (cls == L"Static") {
            std::wstring t = WindowText(child);
            if (id == 0xFFFF || (id == -1 && text.empty()))
                text = t;
            if (!t.empty())
                statics += (statics.empty() ? "" : ",") + Json(t);
        } else if (cls == L"Button") {
            buttons += std::string(buttons.empty() ? "" : ",") + "{\"id\":" + Json((long)id) +
                       ",\"text\":" + Json(WindowText(child)) + "}";
        }
    }
    HWND owner = GetWindow(box, GW_OWNER);
    return "{\"hwnd\":" + Json(HandleValue(box)) + ",\"pid\":" + Json((unsigned long long)ProcessOf(box)) +
           ",\"caption\":" + Json(WindowText(box)) + ",\"text\":" + Json(text) + ",\"statics\":[" + statics +
           "],\"buttons\":[" + buttons + "],\"icon\":" + Json(std::string(IconName(box))) +
           ",\"owner\":" + Json(HandleValue(owner)) + ",\"owner_class\":" + Json(owner ? ClassOf(owner) : L"") +
           ",\"visible\":" + JsonBool(IsWindowVisible(box)) + "," + RectFields(box) + "}";
}

static long MessageNumber(const std::wstring& s)
{
    struct {
        const wchar_t* name;
        long value;
    } names[] = {
        {L"WM_NULL", WM_NULL},       {L"WM_CLOSE", WM_CLOSE},
        {L"WM_COMMAND", WM_COMMAND}, {L"WM_SYSCOMMAND", WM_SYSCOMMAND},
        {L"WM_TIMER", WM_TIMER},     {L"WM_KEYDOWN", WM_KEYDOWN},
        {L"WM_KEYUP", WM_KEYUP},     {L"WM_QUIT", WM_QUIT},
        {L"WM_SETTEXT", WM_SETTEXT},
    };
    for (auto& n : names)
        if (s == n.name)
            return n.value;
    return (long)Number(s);
}

static int ButtonNumber(const std::wstring& s)
{
    struct {
        const wchar_t* name;
        int value;
    } names[] = {
        {L"IDOK", IDOK},         {L"IDCANCEL", IDCANCEL}, {L"IDABORT", IDABORT}, {L"IDRETRY", IDRETRY},
        {L"IDIGNORE", IDIGNORE}, {L"IDYES", IDYES},       {L"IDNO", IDNO},
    };
    for (auto& n : names)
        if (s == n.name)
            return n.value;
    return (int)Number(s);
}

static int ShowNumber(const std::wstring& s)
{
    struct {
        const wchar_t* name;
        int value;
    } names[] = {
        {L"SW_HIDE", SW_HIDE},
        {L"SW_SHOWNORMAL", SW_SHOWNORMAL},
        {L"SW_SHOWMINIMIZED", SW_SHOWMINIMIZED},
        {L"SW_MAXIMIZE", SW_MAXIMIZE},
        {L"SW_SHOWNOACTIVATE", SW_SHOWNOACTIVATE},
        {L"SW_SHOW", SW_SHOW},
        {L"SW_MINIMIZE", SW_MINIMIZE},
        {L"SW_SHOWMINNOACTIVE", SW_SHOWMINNOACTIVE},
        {L"SW_SHOWNA", SW_SHOWNA},
        {L"SW_RESTORE", SW_RESTORE},
    };
    for (auto& n : names)
        if (s == n.name)
            return n.value;
    return (int)Number(s);
}

// Options of the form --name value, plus the flag --visible.
struct Options {
    std::vector<std::wstring> positional;
    Filter filter;
    DWORD timeout = DefaultTimeout;
    std::wstring caption;
};

static bool ParseOptions(const std::vector<std::wstring>& args, size_t from, Options& o)
{
    for (size_t i = from; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        bool hasValue = i + 1 < args.size();
        if (a == L"--visible") {
            o.filter.visibleOnly = true;
        } else if (a.compare(0, 2, L"--") == 0) {
            if (!hasValue)
                return false;
            const std::wstring& v = args[++i];
            if (a == L"--class")
                o.filter.cls = v;
            else if (a == L"--title-prefix")
                o.filter.titlePrefix = v;
            else if (a == L"--title")
                o.filter.title = v;
            else if (a == L"--pid")
                o.filter.pid = Number(v);
            else if (a == L"--timeout")
                o.timeout = Number(v);
            else if (a == L"--caption")
                o.caption = v;
            else if (a == L"--exclude") {
                for (size_t at = 0; at <= v.size();) {
                    size_t comma = v.find(L',', at);
                    if (comma == std::wstring::npos)
                        comma = v.size();
                    if (comma > at)
                        o.filter.excluded.push_back(HandleArg(v.substr(at, comma - at)));
                    at = comma + 1;
                }
            } else
                return false;
        } else {
            o.positional.push_back(a);
        }
    }
    return true;
}

static HWND WaitBox(Options& o)
{
    o.filter.cls = L"#32770";
    o.filter.title = o.caption;
    o.filter.visibleOnly = true;
    return WaitWindow(o.filter, o.timeout);
}

static bool WaitGone(HWND hwnd, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start >= timeout)
            return false;
        Sleep(PollInterval);
    }
    return true;
}

static int RunCommand(const std::vector<std::wstring>& args);

// One command per line keeps a single Wine process alive across a test
// instead of paying Wine's start-up for every query.
static int Serve()
{
    char line[8192];
    while (fgets(line, sizeof line, stdin)) {
        std::wstring w = WideFromBytes(line, CP_UTF8);
        std::vector<std::wstring> args{L"probe"};
        std::wstring cur;
        bool quoted = false, any = false;
        for (wchar_t c : w) {
            if (c == L'"') {
                quoted = !quoted;
                any = true;
            } else if (!quoted && (c == L' ' || c == L'\t' || c == L'\n' || c == L'\r')) {
                if (any)
                    args.push_back(cur);
                cur.clear();
                any = false;
            } else {
                cur += c;
                any = true;
            }
        }
        if (any)
            args.push_back(cur);
        if (args.size() < 2)
            continue;
        if (args[1] == L"quit")
            break;
        int rc = RunCommand(args);
        Emit("{\"done\":" + std::to_string(rc) + "}");
    }
    return 0;
}

static int RunCommand(const std::vector<std::wstring>& args)
{
    if (args.size() < 2) {
        fputs(Usage, stderr);
        return 2;
    }
    const std::wstring& cmd = args[1];
    Options o;
    if (!ParseOptions(args, 2, o)) {
        fputs(Usage, stderr);
        return 2;
    }
    const std::vector<std::wstring>& p = o.positional;

    if (cmd == L"windows") {
        for (HWND h : FindWindows(o.filter))
            Emit(WindowJson(h));
        return 0;
    }
    if (cmd == L"wait-window") {
        HWND h = WaitWindow(o.filter, o.timeout);
        if (!h)
            return Fail("timeout");
        Emit(WindowJson(h));
        return 0;
    }
    if (cmd == L"wait-gone" && p.size() == 1) {
        HWND h = HandleArg(p[0]);
        if (!WaitGone(h, o.timeout))
            return Fail("window still exists");
        Emit("{\"gone\":" + Json(HandleValue(h)) + "}");
        return 0;
    }
    if (cmd == L"text" && p.size() == 1) {
        HWND h = HandleArg(p[0]);
        if (!IsWindow(h))
            return Fail("no such window");
        Emit("{\"hwnd\":" + Json(HandleValue(h)) + ",\"text\":" + Json(WindowText(h)) + "}");
        return 0;
    }
    if (cmd == L"children" && p.size() == 1) {
        HWND h = HandleArg(p[0]);
        if (!IsWindow(h))
            return Fail("no such window");
        for (HWND c : Children(h))
            Emit(ChildJson(c));
        return 0;
    }
    if (cmd == L"wait-box") {
        HWND box = WaitBox(o);
        if (!box)
            return Fail("timeout");
        Emit(BoxJson(box));
        return 0;
    }
    if (cmd == L"answer" && (p.size() == 2 || (p.size() == 1 && !o.caption.empty()))) {
        HWND box = p.size() == 2 ? HandleArg(p[0]) : WaitBox(o);
        if (!box || !IsWindow(box))
            return Fail("no such box");
        int id = ButtonNumber(p.back());
        HWND button = GetDlgItem(box, id);
        if (!button)
            return Fail("the box has no button " + std::to_string(id));
        // The box's dialog procedure ends the box on the button's command,
        // exactly as a click would; posting keeps us from blocking on it.
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
        bool closed = WaitGone(box, o.timeout);
        Emit("{\"hwnd\":" + Json(HandleValue(box)) + ",\"answered\":" + Json((long)id) +
             ",\"closed\":" + JsonBool(closed) + "}");
        return closed ? 0 : 1;
    }
    if ((cmd == L"post" || cmd == L"send") && p.size() == 4) {
        HWND h = HandleArg(p[0]);
        UINT msg = (UINT)MessageNumber(p[1]);
        WPARAM wp = (WPARAM)Number(p[2]);
        LPARAM lp = (LPARAM)Number(p[3]);
        if (!IsWindow(h))
            return Fail("no such window");
        if (cmd == L"post") {
            BOOL ok = PostMessageW(h, msg, wp, lp);
            Emit("{\"posted\":" + JsonBool(ok) + "}");
            return ok ? 0 : 1;
        }
        DWORD_PTR result = 0;
        BOOL ok = SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result) != 0;
        Emit("{\"sent\":" + JsonBool(ok) + ",\"result\":" + Json((unsigned long long)result) + "}");
        return ok ? 0 : 1;
    }
    if (cmd == L"focus" && p.size() == 1) {
        HWND h = HandleArg(p[0]);
        if (!IsWindow(h))
            return Fail("no such window");
        SetForegroundWindow(h);
        Emit("{\"foreground\":" + Json(HandleValue(GetForegroundWindow())) +
             ",\"ok\":" + JsonBool(GetForegroundWindow() == h) + "}");
        return GetForegroundWindow() == h ? 0 : 1;
    }
    if (cmd == L"foreground") {
        HWND h = GetForegroundWindow();
        Emit(h ? WindowJson(h) : "{\"hwnd\":0}");
        return 0;
    }
    if (cmd == L"show" && p.size() == 2) {
        HWND h = HandleArg(p[0]);
        if (!IsWindow(h))
            return Fail("no such window");
        ShowWindow(h, ShowNumber(p[1]));
        Emit(WindowJson(h));
        return 0;
    }
    if (cmd == L"screen") {
        Emit("{\"w\":" + Json((long)GetSystemMetrics(SM_CXSCREEN)) +
             ",\"h\":" + Json((long)GetSystemMetrics(SM_CYSCREEN)) + "}");
        return 0;
    }
    if (cmd == L"codepage") {
        Emit("{\"acp\":" + Json((unsigned long long)GetACP()) + ",\"oemcp\":" + Json((unsigned long long)GetOEMCP()) +
             "}");
        return 0;
    }
    if (cmd == L"gbk-file" && p.size() == 1) {
        // The literal reaches CreateFileA as GBK bytes, as every name the
        // program builds does.
        std::string path = AnsiFromWide(p[0]) + "\\逸响乐台.txt";
        HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (f == INVALID_HANDLE_VALUE)
            return Fail("CreateFileA failed: " + std::to_string(GetLastError()));
        DWORD written = 0;
        WriteFile(f, "GBK", 3, &written, NULL);
        CloseHandle(f);
        Emit("{\"created\":" + Json(Utf8FromWide(WideFromBytes("逸响乐台.txt", 936))) + "}");
        return 0;
    }
    if (cmd == L"list" && p.size() == 1) {
        std::string pattern = AnsiFromWide(p[0]) + "\\*";
        WIN32_FIND_DATAA fd;
        HANDLE find = FindFirstFileA(pattern.c_str(), &fd);
        if (find == INVALID_HANDLE_VALUE)
            return Fail("FindFirstFileA failed: " + std::to_string(GetLastError()));
        do {
            if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
                continue;
            Emit("{\"name\":" + Json(Utf8FromWide(WideFromBytes(fd.cFileName, 936))) +
                 ",\"dir\":" + JsonBool(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) + "}");
        } while (FindNextFileA(find, &fd));
        FindClose(find);
        return 0;
    }
    if (cmd == L"serve")
        return Serve();
    fputs(Usage, stderr);
    return 2;
}

int main()
{
    // Wide arguments: the tests pass UTF-8 texts, whatever the code page.
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::vector<std::wstring> args(argv, argv + argc);
    LocalFree(argv);
    return RunCommand(args);
}
