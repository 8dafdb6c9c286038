// tree_probe: reads the clean-up dialog of a running quorvane.exe from outside, for the end-to-end
// tests. It runs in the same Wine prefix and session as the tool and prints what an operator sees:
//
//   tree_probe dump                 title, status line, clean-up button and the tree:
//                                     title: <text>          title-hex: <bytes in hex>
//                                     status: <text>         status-hex: <bytes in hex>
//                                     ok: enabled | disabled
//                                     button-ok: <text>      button-ok-hex: <bytes in hex>
//                                     button-ok-fit: yes|no <text width> <room> (pixels)
//                                     button-cancel: ... as for button-ok
//                                     status-fit: yes|no <text height> <height> (pixels, the
//                                       text wrapped at word breaks to the control's width)
//                                     rect: <left> <top> <right> <bottom> (screen)
//                                     tree:
//                                     [x] Ovaline 2004 (English)
//                                       [ ] SYSTEM
//   tree_probe checkbox LABEL [PARENT]   screen "x y" of the item's check box
//   tree_probe label LABEL [PARENT]      screen "x y" of the middle of the item's label
//   tree_probe appear MS            waits up to MS milliseconds for the dialog, polling every 5 ms;
//                                     appeared-at-ms: <Unix time in ms when it was found>
//   tree_probe responsive MS        for MS milliseconds, every 100 ms: asks the dialog WM_NULL
//                                   (SendMessageTimeout, 1 s) and reads its status line the same
//                                   way; prints each status line not seen before as status-hex:,
//                                   then the longest wait for an answer and the unanswered asks:
//                                     max-answer-ms: <n>        unanswered: <n>
//   tree_probe cancel-after MS      waits up to two minutes for the dialog, then MS milliseconds
//                                   more, reads its status line (as status-hex:) and its clean-up
//                                   button (ok: as dump prints it) and clicks its Cancel button
//                                   (BN_CLICKED of IDCANCEL)
//   tree_probe msgbox               the message box the tool shows, if any (also one shown
//                                   before the dialog is):
//                                     caption: / caption-hex: / text: / text-hex:
//                                     button <id> <text> [default] [focus]
//
// Texts are printed as the tool holds them (ANSI code page); the -hex lines let a script compare
// Japanese texts byte for byte. Exit codes: 0 done, 2 no dialog (or no message box), 3 no such
// item, 1 any other failure. The probe never waits: callers poll it.
//
// Tree items live in the tool's process, so TVM_GETITEMA, TVM_GETITEMRECT and TVM_HITTEST get
// their structures and text buffers in memory allocated inside that process.
#include <windows.h>
// The common controls' header needs the types declared above.
#include <commctrl.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

constexpr int kTreeId = IDC_TREE;
constexpr int kStatusId = IDC_STATUS;

// A handle closed on every path.
class Handle {
  public:
    explicit Handle(HANDLE h) : h_(h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (h_) CloseHandle(h_);
    }
    HANDLE get() const { return h_; }

  private:
    HANDLE h_;
};

// A block of memory inside the tool's process, released on every path.
class RemoteBlock {
  public:
    RemoteBlock(HANDLE process, SIZE_T size)
        : process_(process),
          address_(
              VirtualAllocEx(process, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)) {}
    RemoteBlock(const RemoteBlock&) = delete;
    RemoteBlock& operator=(const RemoteBlock&) = delete;
    ~RemoteBlock() {
        if (address_) VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
    }
    bool ok() const { return address_ != nullptr; }
    char* at(SIZE_T offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
        SIZE_T done = 0;
        return WriteProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) const {
        SIZE_T done = 0;
        return ReadProcessMemory(process_, at(offset), data, size, &done) && done == size;
    }

  private:
    HANDLE process_;
    void* address_;
};

std::string ClassOf(HWND hwnd) {
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string TextOf(HWND hwnd) {
    int length = GetWindowTextLengthA(hwnd);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    int got = GetWindowTextA(hwnd, &text[0], length + 1);
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char part[4];
    for (unsigned char c : bytes) {
        std::snprintf(part, sizeof part, "%02x", c);
        out += part;
    }
    return out;
}

bool IsCleanupDialog(HWND hwnd) {
    if (ClassOf(hwnd) != "#32770") return false;
    HWND tree = GetDlgItem(hwnd, kTreeId);
    return tree && ClassOf(tree) == WC_TREEVIEWA;
}

struct Search {
    std::vector<HWND> found;
    DWORD process = 0;  // for message boxes: the dialog's process (0: any)
};

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (IsWindowVisible(hwnd) && IsCleanupDialog(hwnd)) search->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectMessageBoxes(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    if ((search->process == 0 || process == search->process) && IsWindowVisible(hwnd) &&
        ClassOf(hwnd) == "#32770" && !IsCleanupDialog(hwnd)) {
        search->found.push_back(hwnd);
    }
    return TRUE;
}

HWND FindDialog() {
    Search search;
    EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&search));
    return search.found.empty() ? nullptr : search.found.front();
}

// The tree control of the dialog and the tool's process, opened for reading and writing.
class RemoteTree {
  public:
    explicit RemoteTree(HWND tree)
        : tree_(tree), process_(OpenOwner(tree)), block_(process_.get(), kBlockSize) {}

    bool ok() const { return process_.get() && block_.ok(); }
    HWND hwnd() const { return tree_; }

    HTREEITEM Next(HTREEITEM item, UINT code) const {
        return reinterpret_cast<HTREEITEM>(
            SendMessageA(tree_, TVM_GETNEXTITEM, code, reinterpret_cast<LPARAM>(item)));
    }

    // Label and state image (0 none, 1 unchecked, 2 checked) of an item.
    bool Item(HTREEITEM item, std::string* label, int* stateImage) const {
        TVITEMA query = {};
        query.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE;
        query.hItem = item;
        query.stateMask = TVIS_STATEIMAGEMASK;
        query.pszText = block_.at(kTextOffset);
        query.cchTextMax = kTextSize;
        const char empty = '\0';
        if (!block_.Write(0, &query, sizeof query) || !block_.Write(kTextOffset, &empty, 1)) {
            return false;
        }
        if (!SendMessageA(tree_, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(block_.at(0)))) {
            return false;
        }
        std::vector<char> text(kTextSize + 1, '\0');
        if (!block_.Read(0, &query, sizeof query) ||
            !block_.Read(kTextOffset, text.data(), kTextSize)) {
            return false;
        }
        *label = std::string(text.data());
        *stateImage = static_cast<int>((query.state & TVIS_STATEIMAGEMASK) >> 12);
        return true;
    }

    // The label rectangle of an item, in the tree's client coordinates.
    bool LabelRect(HTREEITEM item, RECT* rect) const {
        for (int attempt = 0; attempt < 2; ++attempt) {
            RECT in = {};
            std::memcpy(&in, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the RECT
            if (!block_.Write(0, &in, sizeof in)) return false;
            if (SendMessageA(tree_, TVM_GETITEMRECT, TRUE,
                             reinterpret_cast<LPARAM>(block_.at(0)))) {
                return block_.Read(0, rect, sizeof *rect);
            }
            // Not visible: scroll it into view once.
            SendMessageA(tree_, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
        }
        return false;
    }

    // TVM_HITTEST at a client point.
    HTREEITEM HitTest(POINT client, UINT* flags) const {
        TVHITTESTINFO info = {};
        info.pt = client;
        if (!block_.Write(0, &info, sizeof info)) return nullptr;
        auto hit = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(block_.at(0))));
        if (!block_.Read(0, &info, sizeof info)) return nullptr;
        *flags = info.flags;
        return hit;
    }

  private:
    static constexpr SIZE_T kTextOffset = 256;
    static constexpr int kTextSize = 1024;
    static constexpr SIZE_T kBlockSize = kTextOffset + kTextSize + 16;

    static HANDLE OpenOwner(HWND hwnd) {
        DWORD process = 0;
        GetWindowThreadProcessId(hwnd, &process);
        return OpenProcess(
            PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE | PROCESS_QUERY_INFORMATION,
            FALSE, process);
    }

    HWND tree_;
    Handle process_;
    RemoteBlock block_;
};

void PrintLine(const char* name, const std::string& text) {
    std::printf("%s: %s\n%s-hex: %s\n", name, text.c_str(), name, Hex(text).c_str());
}

const char* Box(int stateImage) {
    switch (stateImage) {
        case 2:
            return "[x]";
        case 1:
            return "[ ]";
        default:
            return "[?]";
    }
}

// The dialog's font: 8 points of "MS Shell Dlg 2", which the template's shell font names.
HFONT DialogFont(HDC dc) {
    return CreateFontW(-MulDiv(8, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL, FALSE,
                       FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                       DEFAULT_QUALITY, DEFAULT_PITCH, L"MS Shell Dlg 2");
}

// Whether the status line's text, wrapped as the control wraps it, fits its height.
void PrintStatusFit(HWND status) {
    wchar_t text[1024] = {};
    const int length = GetWindowTextW(status, text, 1024);
    RECT client = {};
    GetClientRect(status, &client);
    RECT needed = client;
    HDC dc = GetDC(status);
    HFONT font = DialogFont(dc);
    HGDIOBJ old = SelectObject(dc, font);
    DrawTextW(dc, text, length, &needed, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(status, dc);
    const long height = static_cast<long>(client.bottom - client.top);
    const long textHeight = static_cast<long>(needed.bottom - needed.top);
    const bool fits =
        textHeight <= height && needed.right - needed.left <= client.right - client.left;
    std::printf("status-fit: %s %ld %ld\n", fits ? "yes" : "no", textHeight, height);
}

// A button's text and whether it fits: its extent in the dialog's font (Wine links in the glyphs
// the face lacks) against the button's width less 4 pixels a side for its edge and focus rectangle.
void PrintButton(const char* name, HWND button) {
    PrintLine(name, TextOf(button));
    wchar_t text[256] = {};
    const int length = GetWindowTextW(button, text, 256);
    HDC dc = GetDC(button);
    HFONT font = DialogFont(dc);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text, length, &extent);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(button, dc);
    RECT client = {};
    GetClientRect(button, &client);
    const long room = static_cast<long>(client.right - client.left) - 8;
    std::printf("%s-fit: %s %ld %ld\n", name, extent.cx <= room && length > 0 ? "yes" : "no",
                static_cast<long>(extent.cx), room);
}

int Dump(HWND dialog, const RemoteTree& tree) {
    PrintLine("title", TextOf(dialog));
    PrintLine("status", TextOf(GetDlgItem(dialog, kStatusId)));
    std::printf("ok: %s\n", IsWindowEnabled(GetDlgItem(dialog, IDOK)) ? "enabled" : "disabled");
    PrintButton("button-ok", GetDlgItem(dialog, IDOK));
    PrintButton("button-cancel", GetDlgItem(dialog, IDCANCEL));
    PrintStatusFit(GetDlgItem(dialog, kStatusId));
    RECT frame = {};
    GetWindowRect(dialog, &frame);
    std::printf("rect: %ld %ld %ld %ld\n", static_cast<long>(frame.left),
                static_cast<long>(frame.top), static_cast<long>(frame.right),
                static_cast<long>(frame.bottom));
    std::printf("tree:\n");
    for (HTREEITEM top = tree.Next(nullptr, TVGN_ROOT); top; top = tree.Next(top, TVGN_NEXT)) {
        std::string label;
        int state = 0;
        if (!tree.Item(top, &label, &state)) return 1;
        std::printf("%s %s\n", Box(state), label.c_str());
        for (HTREEITEM child = tree.Next(top, TVGN_CHILD); child;
             child = tree.Next(child, TVGN_NEXT)) {
            if (!tree.Item(child, &label, &state)) return 1;
            std::printf("  %s %s\n", Box(state), label.c_str());
        }
    }
    return 0;
}

// The first item labelled `label`: a top-level item, or, with `parent`, a child of the first
// top-level item labelled `parent`.
HTREEITEM FindItem(const RemoteTree& tree, const std::string& label, const char* parent) {
    std::string text;
    int state = 0;
    for (HTREEITEM top = tree.Next(nullptr, TVGN_ROOT); top; top = tree.Next(top, TVGN_NEXT)) {
        if (!tree.Item(top, &text, &state)) return nullptr;
        if (!parent) {
            if (text == label) return top;
            continue;
        }
        if (text != parent) continue;
        for (HTREEITEM child = tree.Next(top, TVGN_CHILD); child;
             child = tree.Next(child, TVGN_NEXT)) {
            if (!tree.Item(child, &text, &state)) return nullptr;
            if (text == label) return child;
        }
        return nullptr;
    }
    return nullptr;
}

void PrintScreenPoint(HWND tree, POINT client) {
    ClientToScreen(tree, &client);
    std::printf("%ld %ld\n", static_cast<long>(client.x), static_cast<long>(client.y));
}

// The check box is the state image left of the label. Its extent is found by hit-testing
// leftwards from the label, so the point printed is one the control itself reports as
// TVHT_ONITEMSTATEICON of this item.
int CheckBoxPoint(const RemoteTree& tree, HTREEITEM item) {
    RECT label;
    if (!tree.LabelRect(item, &label)) return 1;
    POINT p;
    p.y = (label.top + label.bottom) / 2;
    LONG first = -1, last = -1;
    for (LONG x = label.left - 1; x >= 0 && x >= label.left - 64; --x) {
        p.x = x;
        UINT flags = 0;
        HTREEITEM hit = tree.HitTest(p, &flags);
        bool onBox = hit == item && flags == TVHT_ONITEMSTATEICON;
        if (onBox) {
            if (last < 0) last = x;
            first = x;
        } else if (last >= 0) {
            break;
        }
    }
    if (last < 0) return 1;
    p.x = (first + last) / 2;
    PrintScreenPoint(tree.hwnd(), p);
    return 0;
}

int LabelPoint(const RemoteTree& tree, HTREEITEM item) {
    RECT label;
    if (!tree.LabelRect(item, &label)) return 1;
    POINT p;
    p.x = (label.left + label.right) / 2;
    p.y = (label.top + label.bottom) / 2;
    PrintScreenPoint(tree.hwnd(), p);
    return 0;
}

struct Children {
    std::vector<HWND> all;
};

BOOL CALLBACK CollectChildren(HWND hwnd, LPARAM param) {
    reinterpret_cast<Children*>(param)->all.push_back(hwnd);
    return TRUE;
}

// `dialog` null: a box shown before the dialog is, of whatever process (the prefix runs the tool
// alone).
int MessageBoxState(HWND dialog) {
    Search search;
    if (dialog != nullptr) GetWindowThreadProcessId(dialog, &search.process);
    EnumWindows(CollectMessageBoxes, reinterpret_cast<LPARAM>(&search));
    if (search.found.empty()) return 2;
    HWND box = search.found.front();

    DWORD thread = GetWindowThreadProcessId(box, nullptr);
    GUITHREADINFO gui = {};
    gui.cbSize = sizeof gui;
    HWND focus = GetGUIThreadInfo(thread, &gui) ? gui.hwndFocus : nullptr;

    Children children;
    EnumChildWindows(box, CollectChildren, reinterpret_cast<LPARAM>(&children));
    std::string text;
    for (HWND child : children.all) {
        if (ClassOf(child) == "Static" && text.empty()) text = TextOf(child);
    }
    PrintLine("caption", TextOf(box));
    PrintLine("text", text);
    for (HWND child : children.all) {
        if (ClassOf(child) != "Button") continue;
        LONG style = GetWindowLongA(child, GWL_STYLE);
        std::printf("button %d %s%s%s\n", GetDlgCtrlID(child), TextOf(child).c_str(),
                    (style & 0x0F) == BS_DEFPUSHBUTTON ? " default" : "",
                    child == focus ? " focus" : "");
    }
    return 0;
}

}  // namespace

// Milliseconds since 1970 (the shell's "date +%s%3N").
long long UnixMilliseconds() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER ticks;
    ticks.LowPart = now.dwLowDateTime;
    ticks.HighPart = now.dwHighDateTime;
    return static_cast<long long>(ticks.QuadPart / 10000) - 11644473600000LL;
}

int Appear(int waitMs) {
    const DWORD start = GetTickCount();
    while (FindDialog() == nullptr) {
        if (GetTickCount() - start > static_cast<DWORD>(waitMs)) return 2;
        Sleep(5);
    }
    std::printf("appeared-at-ms: %lld\n", UnixMilliseconds());
    return 0;
}

int Responsive(HWND dialog, int forMs) {
    const DWORD start = GetTickCount();
    DWORD longest = 0;
    int unanswered = 0;
    std::vector<std::string> seen;
    HWND status = GetDlgItem(dialog, kStatusId);
    while (GetTickCount() - start < static_cast<DWORD>(forMs) && IsWindow(dialog)) {
        const DWORD asked = GetTickCount();
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutA(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &result)) {
            ++unanswered;
        }
        longest = std::max(longest, GetTickCount() - asked);
        char text[512] = {};
        if (SendMessageTimeoutA(status, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                                SMTO_ABORTIFHUNG, 1000, &result)) {
            const std::string line(text);
            if (std::find(seen.begin(), seen.end(), line) == seen.end()) {
                seen.push_back(line);
                std::printf("status-hex: %s\n", Hex(line).c_str());
            }
        }
        Sleep(100);
    }
    std::printf("max-answer-ms: %lu\nunanswered: %d\n", static_cast<unsigned long>(longest),
                unanswered);
    return 0;
}

int CancelAfter(int afterMs) {
    const DWORD start = GetTickCount();
    HWND dialog = nullptr;
    while ((dialog = FindDialog()) == nullptr) {
        if (GetTickCount() - start > 120000) return 2;
        Sleep(5);
    }
    Sleep(static_cast<DWORD>(afterMs));
    char text[512] = {};
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(GetDlgItem(dialog, kStatusId), WM_GETTEXT, sizeof text,
                             reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 1000, &result)) {
        return 1;
    }
    std::printf("status-hex: %s\n", Hex(text).c_str());
    std::printf("ok: %s\n", IsWindowEnabled(GetDlgItem(dialog, IDOK)) ? "enabled" : "disabled");
    std::fflush(stdout);
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                        reinterpret_cast<LPARAM>(cancel))
               ? 0
               : 1;
}

int main(int argc, char** argv) {
    // Lines end in a bare line feed, for the shell scripts that read them.
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc < 2) {
        std::fprintf(
            stderr,
            "usage: tree_probe dump | checkbox LABEL [PARENT] | label LABEL [PARENT] | msgbox | "
            "appear MS | responsive MS | cancel-after MS\n");
        return 1;
    }
    const std::string command = argv[1];
    if (command == "appear" && argc >= 3) return Appear(std::atoi(argv[2]));
    if (command == "cancel-after" && argc >= 3) return CancelAfter(std::atoi(argv[2]));
    HWND dialog = FindDialog();
    if (command == "msgbox") return MessageBoxState(dialog);
    if (!dialog) {
        std::fprintf(stderr, "tree_probe: no clean-up dialog\n");
        return 2;
    }

    RemoteTree tree(GetDlgItem(dialog, kTreeId));
    if (!tree.ok()) {
        std::fprintf(stderr, "tree_probe: cannot reach the tool's process (%lu)\n", GetLastError());
        return 1;
    }
    if (command == "dump") return Dump(dialog, tree);
    if (command == "responsive" && argc >= 3) return Responsive(dialog, std::atoi(argv[2]));
    if ((command == "checkbox" || command == "label") && argc >= 3) {
        HTREEITEM item = FindItem(tree, argv[2], argc >= 4 ? argv[3] : nullptr);
        if (!item) {
            std::fprintf(stderr, "tree_probe: no item \"%s\"\n", argv[2]);
            return 3;
        }
        return command == "checkbox" ? CheckBoxPoint(tree, item) : LabelPoint(tree, item);
    }
    std::fprintf(stderr, "tree_probe: unknown command \"%s\"\n", command.c_str());
    return 1;
}
