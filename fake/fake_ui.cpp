#include "fake/fake_ui.h"

#include <unordered_map>

namespace qv::fake {
namespace {

constexpr std::uint32_t kStateExpanded = 0x0020;  // TVIS_EXPANDED
constexpr std::uint32_t kHitNowhere = 0x0001;     // TVHT_NOWHERE

std::uint32_t ImageOf(std::uint32_t state) { return (state & tv::kStateImageMask) >> 12; }

// A state with its state image replaced.
std::uint32_t WithImage(std::uint32_t state, std::uint32_t image) {
    return (state & ~tv::kStateImageMask) | tv::StateImage(image);
}

}  // namespace

struct FakeTree::State {
    // Items are linked to their parent and siblings as in the real control, so that every step
    // of a walk costs the same however many items a level holds.
    struct Item {
        std::string text;
        std::uint32_t state = 0;
        TreeItem parent = 0;
        TreeItem prev = 0;
        TreeItem next = 0;
        TreeItem firstChild = 0;
        TreeItem lastChild = 0;
    };
    struct Hit {
        TreeItem item;
        std::uint32_t flags;
    };

    // Item 0 is the control's invisible root (TVI_ROOT): its children are the top-level items.
    std::unordered_map<TreeItem, Item> items = {{0, Item{}}};
    // Handles count up and are never given out twice, so a stale handle never names a new item.
    TreeItem nextHandle = 0x10000;
    TreeItem caret = 0;
    Hit hit = {0, kHitNowhere};
    std::uint32_t style = tv::kCheckBoxes;
    bool checkBoxImages = false;

    // An item the control shows; null for the root and unknown handles.
    Item* Find(TreeItem item) {
        auto it = items.find(item);
        return item == 0 || it == items.end() ? nullptr : &it->second;
    }

    // The children of `parent` (0: the top-level items) in order; none when it is no item.
    std::vector<TreeItem> Level(TreeItem parent) const {
        std::vector<TreeItem> out;
        if (items.count(parent) == 0) return out;
        for (TreeItem i = items.at(parent).firstChild; i != 0; i = items.at(i).next)
            out.push_back(i);
        return out;
    }

    void Append(TreeItem parent, TreeItem item) {
        Item& p = items.at(parent);
        Item& it = items.at(item);
        it.parent = parent;
        it.prev = p.lastChild;
        (p.lastChild != 0 ? items.at(p.lastChild).next : p.firstChild) = item;
        p.lastChild = item;
    }

    // Unlinks an item and forgets it and everything below it.
    void Delete(TreeItem item) {
        while (items.at(item).firstChild != 0) Delete(items.at(item).firstChild);
        const Item& it = items.at(item);
        Item& p = items.at(it.parent);
        (it.prev != 0 ? items.at(it.prev).next : p.firstChild) = it.next;
        (it.next != 0 ? items.at(it.next).prev : p.lastChild) = it.prev;
        if (caret == item) caret = 0;
        if (hit.item == item) hit = {0, kHitNowhere};
        items.erase(item);
    }

    void Render(TreeItem parent, std::size_t depth, std::string* out) const {
        for (TreeItem item : Level(parent)) {
            const Item& it = items.at(item);
            // A box for state images 1 and 2; "[?]" for no state image, or one the box has not.
            const std::uint32_t image = ImageOf(it.state);
            *out += std::string(depth * 2, ' ') + (image == 1 ? "[ ]" : image == 2 ? "[x]" : "[?]");
            *out += (it.state & kStateExpanded ? "+ " : " ") + it.text + '\n';
            Render(item, depth + 1, out);
        }
    }
};

FakeTree::FakeTree() : s_(std::make_unique<State>()) {}
FakeTree::~FakeTree() = default;

// --- inspection ---

std::string FakeTree::Render() const {
    std::string out;
    s_->Render(0, 0, &out);
    return out;
}

std::size_t FakeTree::ItemCount() const { return s_->items.size() - 1; }

std::vector<TreeItem> FakeTree::TopLevelItems() const { return s_->Level(0); }

std::vector<TreeItem> FakeTree::Children(TreeItem item) const { return s_->Level(item); }

TreeItem FakeTree::FindItem(std::string_view label, TreeItem parent) const {
    for (TreeItem item : s_->Level(parent)) {
        if (s_->items.at(item).text == label) return item;
    }
    return 0;
}

bool FakeTree::IsChecked(TreeItem item) const {
    const State::Item* it = s_->Find(item);
    return it != nullptr && ImageOf(it->state) == 2;
}

std::uint32_t FakeTree::Style() const { return s_->style; }

bool FakeTree::HasCheckBoxImages() const { return s_->checkBoxImages; }

// --- what the operator does ---

void FakeTree::SetHitTestResult(TreeItem item, std::uint32_t flags) { s_->hit = {item, flags}; }

void FakeTree::SetCaret(TreeItem item) { s_->caret = s_->Find(item) != nullptr ? item : 0; }

void FakeTree::ToggleCheck(TreeItem item) {
    State::Item* it = s_->Find(item);
    // The control steps through its two check-box images; an item without one has no box to
    // click.
    const std::uint32_t image = it != nullptr ? ImageOf(it->state) : 0;
    if (image == 1 || image == 2) it->state = WithImage(it->state, 3 - image);
}

// --- ITreeControl ---

TreeItem FakeTree::InsertItem(TreeItem parent, std::string_view text) noexcept {
    if (s_->items.count(parent) == 0) return 0;
    const TreeItem item = s_->nextHandle;
    s_->nextHandle += 0x10;
    State::Item& it = s_->items[item];
    // The Windows adapter hands the control a NUL-terminated text: a label ends at a NUL.
    it.text = std::string(text.substr(0, text.find('\0')));
    // With TVS_CHECKBOXES the control gives every new item state image 1, an unchecked box;
    // without the style an item has no state image.
    if (s_->style & tv::kCheckBoxes) it.state = tv::StateImage(1);
    s_->Append(parent, item);
    return item;
}

TreeItem FakeTree::GetNextItem(TreeItem item, std::uint32_t code) noexcept {
    if (code == tv::kGetCaret) return s_->caret;
    // TVGN_ROOT, and TVGN_CHILD of no item, answer the first top-level item.
    auto it = s_->items.find(code == tv::kGetRoot ? 0 : item);
    if (it == s_->items.end()) return 0;
    if (code == tv::kGetRoot || code == tv::kGetChild) return it->second.firstChild;
    if (code == tv::kGetParent) return it->second.parent;
    // The codes the tool does not use (TVGN_PREVIOUS, ...) answer nothing here.
    return code == tv::kGetNext ? it->second.next : 0;
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
    return it != nullptr && it->firstChild != 0;
}

bool FakeTree::DeleteItem(TreeItem item) noexcept {
    // The control would read a null item as "delete every item"; the Windows adapter refuses it.
    if (s_->Find(item) == nullptr) return false;
    s_->Delete(item);
    return true;
}

bool FakeTree::Expand(TreeItem item, std::uint32_t code) noexcept {
    State::Item* it = s_->Find(item);
    // The control refuses to expand an item without children. TVE_COLLAPSE and TVE_TOGGLE,
    // which the tool does not use, fail here.
    if (it == nullptr || it->firstChild == 0 || (code & 0x3) != tv::kExpand) return false;
    it->state |= kStateExpanded;
    return true;
}

TreeItem FakeTree::HitTest(Point, std::uint32_t* flags) noexcept {
    if (flags != nullptr) *flags = s_->hit.flags;
    return s_->hit.item;
}

Point FakeTree::ScreenToClient(Point screen) noexcept {
    return {screen.x - kClientOrigin.x, screen.y - kClientOrigin.y};
}

void FakeTree::ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept {
    const bool had = (s_->style & tv::kCheckBoxes) != 0;
    s_->style = (s_->style & ~remove) | add;
    const bool has = (s_->style & tv::kCheckBoxes) != 0;
    if (had == has) return;
    // Setting the style makes the control's images and gives every item an unchecked box;
    // removing it drops the images and leaves the states.
    s_->checkBoxImages = has;
    for (auto& [handle, it] : s_->items) {
        if (has) it.state = WithImage(it.state, 1);
    }
}

}  // namespace qv::fake
