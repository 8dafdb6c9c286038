#include "fake/fake_ui.h"

#include <algorithm>

namespace qv::fake {
namespace {

// TVI_ROOT: as a parent it means the top level; TVM_DELETEITEM with it (or with NULL) empties
// the whole tree.
constexpr TreeItem kRootItem = static_cast<TreeItem>(0xFFFF0000u);
constexpr std::uint32_t kGetPrevious = 0x0002;    // TVGN_PREVIOUS
constexpr std::uint32_t kStateExpanded = 0x0020;  // TVIS_EXPANDED
constexpr std::uint32_t kCollapse = 0x0001;       // TVE_COLLAPSE
constexpr std::uint32_t kToggle = 0x0003;         // TVE_TOGGLE
constexpr std::uint32_t kHitNowhere = 0x0001;     // TVHT_NOWHERE

std::uint32_t ImageOf(std::uint32_t state) { return (state & tv::kStateImageMask) >> 12; }

}  // namespace

struct FakeTree::State {
    struct Item {
        std::string text;
        std::uint32_t state = 0;
        TreeItem parent = 0;
        std::vector<TreeItem> children;
    };

    std::map<TreeItem, Item> items;
    std::vector<TreeItem> roots;
    // Handles count up and are never given out twice, so a stale handle never names a new item.
    TreeItem nextHandle = 0x10000;
    TreeItem caret = 0;
    TreeItem hitItem = 0;
    std::uint32_t hitFlags = kHitNowhere;
    Point lastHitTestPoint{};
    std::uint32_t style = tv::kCheckBoxes;

    Item* Find(TreeItem item) {
        auto it = items.find(item);
        return it == items.end() ? nullptr : &it->second;
    }
    const Item* Find(TreeItem item) const {
        auto it = items.find(item);
        return it == items.end() ? nullptr : &it->second;
    }

    const std::vector<TreeItem>& Level(TreeItem parent) const {
        return parent == 0 ? roots : items.at(parent).children;
    }
    std::vector<TreeItem>& Level(TreeItem parent) {
        return parent == 0 ? roots : items.at(parent).children;
    }

    void Erase(TreeItem item) {
        Item& it = items.at(item);
        for (TreeItem child : it.children) Erase(child);
        if (caret == item) caret = 0;
        if (hitItem == item) {
            hitItem = 0;
            hitFlags = kHitNowhere;
        }
        items.erase(item);
    }

    void Render(const std::vector<TreeItem>& level, int depth, std::string* out) const {
        for (TreeItem item : level) {
            const Item& it = items.at(item);
            out->append(static_cast<std::size_t>(depth) * 2, ' ');
            switch (ImageOf(it.state)) {
                case 1: *out += "[ ]"; break;
                case 2: *out += "[x]"; break;
                default: *out += "[?]"; break;  // no state image, or one the box has not
            }
            if (it.state & kStateExpanded) *out += '+';
            *out += ' ';
            *out += it.text;
            *out += '\n';
            Render(it.children, depth + 1, out);
        }
    }
};

FakeTree::FakeTree() : s_(std::make_unique<State>()) {}
FakeTree::~FakeTree() = default;

// --- inspection ---

std::string FakeTree::Render() const {
    std::string out;
    s_->Render(s_->roots, 0, &out);
    return out;
}

std::size_t FakeTree::ItemCount() const { return s_->items.size(); }

std::vector<TreeItem> FakeTree::TopLevelItems() const { return s_->roots; }

std::vector<TreeItem> FakeTree::Children(TreeItem item) const {
    const State::Item* it = s_->Find(item);
    return it != nullptr ? it->children : std::vector<TreeItem>{};
}

TreeItem FakeTree::FindItem(std::string_view label, TreeItem parent) const {
    if (parent != 0 && s_->Find(parent) == nullptr) return 0;
    for (TreeItem item : s_->Level(parent)) {
        if (s_->items.at(item).text == label) return item;
    }
    return 0;
}

bool FakeTree::IsChecked(TreeItem item) const {
    const State::Item* it = s_->Find(item);
    return it != nullptr && ImageOf(it->state) == 2;
}

bool FakeTree::IsExpanded(TreeItem item) const {
    const State::Item* it = s_->Find(item);
    return it != nullptr && (it->state & kStateExpanded) != 0;
}

std::uint32_t FakeTree::Style() const { return s_->style; }

Point FakeTree::LastHitTestPoint() const { return s_->lastHitTestPoint; }

// --- what the operator does ---

void FakeTree::SetHitTestResult(TreeItem item, std::uint32_t flags) {
    s_->hitItem = item;
    s_->hitFlags = flags;
}

void FakeTree::SetCaret(TreeItem item) { s_->caret = s_->Find(item) != nullptr ? item : 0; }

void FakeTree::ToggleCheck(TreeItem item) {
    State::Item* it = s_->Find(item);
    if (it == nullptr) return;
    // The control steps through its two check-box images; an item without one has no box to
    // click.
    std::uint32_t image = ImageOf(it->state);
    if (image == 1 || image == 2) {
        it->state = (it->state & ~tv::kStateImageMask) | tv::StateImage(image == 1 ? 2 : 1);
    }
}

// --- ITreeControl ---

TreeItem FakeTree::InsertItem(TreeItem parent, std::string_view text) noexcept {
    if (parent == kRootItem) parent = 0;
    if (parent != 0 && s_->Find(parent) == nullptr) return 0;
    TreeItem item = s_->nextHandle;
    s_->nextHandle += 0x10;
    State::Item it;
    it.text = std::string(text);
    it.parent = parent;
    // With TVS_CHECKBOXES the control gives every new item state image 1, an unchecked box;
    // without the style an item has no state image.
    if (s_->style & tv::kCheckBoxes) it.state = tv::StateImage(1);
    s_->items.emplace(item, std::move(it));
    s_->Level(parent).push_back(item);
    return item;
}

TreeItem FakeTree::GetNextItem(TreeItem item, std::uint32_t code) noexcept {
    if (code == tv::kGetRoot) return s_->roots.empty() ? 0 : s_->roots.front();
    if (code == tv::kGetCaret) return s_->caret;
    // TVGN_CHILD of no item (or TVI_ROOT) is the first top-level item.
    if (code == tv::kGetChild && (item == 0 || item == kRootItem)) {
        return s_->roots.empty() ? 0 : s_->roots.front();
    }
    const State::Item* it = s_->Find(item);
    if (it == nullptr) return 0;
    switch (code) {
        case tv::kGetChild:
            return it->children.empty() ? 0 : it->children.front();
        case tv::kGetParent:
            return it->parent;
        case tv::kGetNext:
        case kGetPrevious: {
            const std::vector<TreeItem>& level = s_->Level(it->parent);
            auto pos = std::find(level.begin(), level.end(), item);
            if (code == tv::kGetNext) return pos + 1 == level.end() ? 0 : *(pos + 1);
            return pos == level.begin() ? 0 : *(pos - 1);
        }
        default:
            return 0;
    }
}

std::string FakeTree::GetItemText(TreeItem item) noexcept {
    const State::Item* it = s_->Find(item);
    return it != nullptr ? it->text : std::string();
}

std::uint32_t FakeTree::GetItemState(TreeItem item, std::uint32_t mask) noexcept {
    const State::Item* it = s_->Find(item);
    return it != nullptr ? (it->state & mask) : 0;
}

bool FakeTree::SetItemState(TreeItem item, std::uint32_t state, std::uint32_t mask) noexcept {
    State::Item* it = s_->Find(item);
    if (it == nullptr) return false;
    it->state = (it->state & ~mask) | (state & mask);
    return true;
}

bool FakeTree::ItemHasChildren(TreeItem item) noexcept {
    const State::Item* it = s_->Find(item);
    return it != nullptr && !it->children.empty();
}

bool FakeTree::DeleteItem(TreeItem item) noexcept {
    if (item == 0 || item == kRootItem) {
        std::vector<TreeItem> roots = s_->roots;
        for (TreeItem r : roots) s_->Erase(r);
        s_->roots.clear();
        return true;
    }
    State::Item* it = s_->Find(item);
    if (it == nullptr) return false;
    std::vector<TreeItem>& level = s_->Level(it->parent);
    level.erase(std::find(level.begin(), level.end(), item));
    s_->Erase(item);
    return true;
}

bool FakeTree::Expand(TreeItem item, std::uint32_t code) noexcept {
    State::Item* it = s_->Find(item);
    if (it == nullptr) return false;
    // The control refuses to expand or collapse an item without children.
    if (it->children.empty()) return false;
    switch (code & 0x3) {
        case tv::kExpand: it->state |= kStateExpanded; return true;
        case kCollapse: it->state &= ~kStateExpanded; return true;
        case kToggle: it->state ^= kStateExpanded; return true;
        default: return false;
    }
}

TreeItem FakeTree::HitTest(Point client, std::uint32_t* flags) noexcept {
    s_->lastHitTestPoint = client;
    if (flags != nullptr) *flags = s_->hitFlags;
    return s_->hitItem;
}

Point FakeTree::ScreenToClient(Point screen) noexcept {
    return {screen.x - kClientOrigin.x, screen.y - kClientOrigin.y};
}

void FakeTree::ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept {
    s_->style = (s_->style & ~remove) | add;
}

// ---------------------------------------------------------------------------------------------

std::string FakeDialogWindow::ItemText(int controlId) const {
    auto it = texts_.find(controlId);
    return it != texts_.end() ? it->second : std::string();
}

bool FakeDialogWindow::IsItemEnabled(int controlId) const {
    auto it = enabled_.find(controlId);
    return it == enabled_.end() || it->second;
}

void FakeDialogWindow::SetItemText(int controlId, std::string_view text) noexcept {
    texts_[controlId] = std::string(text);
}

void FakeDialogWindow::SetTitle(std::string_view text) noexcept { title_ = std::string(text); }

void FakeDialogWindow::EnableItem(int controlId, bool enable) noexcept {
    enabled_[controlId] = enable;
}

void FakeDialogWindow::EndDialog(int result) noexcept {
    ended_ = true;
    endResult_ = result;
}

}  // namespace qv::fake
