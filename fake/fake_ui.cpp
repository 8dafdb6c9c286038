#include "fake/fake_ui.h"

#include <unordered_map>

namespace qv::fake {
namespace {

constexpr std::uint32_t kStateExpanded = 0x0020;  // TVIS_EXPANDED
constexpr std::uint32_t kHitNowhere = 0x0001;     // TVHT_NOWHERE

std::uint32_t ImageOf(std::uint32_t state) { return (state & tv::kStateImageMask) >> 12; }

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

    std::unordered_map<TreeItem, Item> items;
    TreeItem firstRoot = 0;
    TreeItem lastRoot = 0;
    // Handles count up and are never given out twice, so a stale handle never names a new item.
    TreeItem nextHandle = 0x10000;
    TreeItem caret = 0;
    TreeItem hitItem = 0;
    std::uint32_t hitFlags = kHitNowhere;
    std::uint32_t style = tv::kCheckBoxes;
    bool checkBoxImages = false;

    Item* Find(TreeItem item) {
        auto it = items.find(item);
        return it == items.end() ? nullptr : &it->second;
    }
    const Item* Find(TreeItem item) const {
        auto it = items.find(item);
        return it == items.end() ? nullptr : &it->second;
    }

    TreeItem First(TreeItem parent) const {
        return parent == 0 ? firstRoot : items.at(parent).firstChild;
    }

    std::vector<TreeItem> Level(TreeItem parent) const {
        std::vector<TreeItem> out;
        for (TreeItem i = First(parent); i != 0; i = items.at(i).next) out.push_back(i);
        return out;
    }

    void Append(TreeItem parent, TreeItem item) {
        TreeItem& first = parent == 0 ? firstRoot : items.at(parent).firstChild;
        TreeItem& last = parent == 0 ? lastRoot : items.at(parent).lastChild;
        Item& it = items.at(item);
        it.parent = parent;
        it.prev = last;
        it.next = 0;
        if (last != 0) items.at(last).next = item;
        last = item;
        if (first == 0) first = item;
    }

    void Unlink(TreeItem item) {
        Item& it = items.at(item);
        TreeItem& first = it.parent == 0 ? firstRoot : items.at(it.parent).firstChild;
        TreeItem& last = it.parent == 0 ? lastRoot : items.at(it.parent).lastChild;
        if (it.prev != 0)
            items.at(it.prev).next = it.next;
        else
            first = it.next;
        if (it.next != 0)
            items.at(it.next).prev = it.prev;
        else
            last = it.prev;
    }

    // Forgets an unlinked item and everything below it.
    void Erase(TreeItem item) {
        for (TreeItem c = items.at(item).firstChild; c != 0;) {
            TreeItem next = items.at(c).next;
            Erase(c);
            c = next;
        }
        if (caret == item) caret = 0;
        if (hitItem == item) {
            hitItem = 0;
            hitFlags = kHitNowhere;
        }
        items.erase(item);
    }

    void Render(TreeItem first, int depth, std::string* out) const {
        for (TreeItem item = first; item != 0; item = items.at(item).next) {
            const Item& it = items.at(item);
            out->append(static_cast<std::size_t>(depth) * 2, ' ');
            switch (ImageOf(it.state)) {
                case 1:
                    *out += "[ ]";
                    break;
                case 2:
                    *out += "[x]";
                    break;
                default:
                    *out += "[?]";
                    break;  // no state image, or one the box has not
            }
            if (it.state & kStateExpanded) *out += '+';
            *out += ' ';
            *out += it.text;
            *out += '\n';
            Render(it.firstChild, depth + 1, out);
        }
    }
};

FakeTree::FakeTree() : s_(std::make_unique<State>()) {}
FakeTree::~FakeTree() = default;

// --- inspection ---

std::string FakeTree::Render() const {
    std::string out;
    s_->Render(s_->firstRoot, 0, &out);
    return out;
}

std::size_t FakeTree::ItemCount() const { return s_->items.size(); }

std::vector<TreeItem> FakeTree::TopLevelItems() const { return s_->Level(0); }

std::vector<TreeItem> FakeTree::Children(TreeItem item) const {
    if (s_->Find(item) == nullptr) return {};
    return s_->Level(item);
}

TreeItem FakeTree::FindItem(std::string_view label, TreeItem parent) const {
    if (parent != 0 && s_->Find(parent) == nullptr) return 0;
    for (TreeItem item = s_->First(parent); item != 0; item = s_->items.at(item).next) {
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
    if (parent != 0 && s_->Find(parent) == nullptr) return 0;
    TreeItem item = s_->nextHandle;
    s_->nextHandle += 0x10;
    State::Item it;
    // The Windows adapter hands the control a NUL-terminated text: a label ends at a NUL.
    it.text = std::string(text.substr(0, text.find('\0')));
    // With TVS_CHECKBOXES the control gives every new item state image 1, an unchecked box;
    // without the style an item has no state image.
    if (s_->style & tv::kCheckBoxes) it.state = tv::StateImage(1);
    s_->items.emplace(item, std::move(it));
    s_->Append(parent, item);
    return item;
}

TreeItem FakeTree::GetNextItem(TreeItem item, std::uint32_t code) noexcept {
    if (code == tv::kGetRoot) return s_->firstRoot;
    if (code == tv::kGetCaret) return s_->caret;
    // The control answers TVGN_CHILD of no item with the first top-level item.
    if (code == tv::kGetChild && item == 0) return s_->firstRoot;
    const State::Item* it = s_->Find(item);
    if (it == nullptr) return 0;
    switch (code) {
        case tv::kGetChild:
            return it->firstChild;
        case tv::kGetParent:
            return it->parent;
        case tv::kGetNext:
            return it->next;
        default:  // the codes the tool does not use (TVGN_PREVIOUS, ...) answer nothing here
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
    return it != nullptr && it->firstChild != 0;
}

bool FakeTree::DeleteItem(TreeItem item) noexcept {
    // The control would read a null item as "delete every item"; the Windows adapter refuses it.
    if (s_->Find(item) == nullptr) return false;
    s_->Unlink(item);
    s_->Erase(item);
    return true;
}

bool FakeTree::Expand(TreeItem item, std::uint32_t code) noexcept {
    State::Item* it = s_->Find(item);
    if (it == nullptr) return false;
    // The control refuses to expand an item without children. TVE_COLLAPSE and TVE_TOGGLE,
    // which the tool does not use, fail here.
    if (it->firstChild == 0 || (code & 0x3) != tv::kExpand) return false;
    it->state |= kStateExpanded;
    return true;
}

TreeItem FakeTree::HitTest(Point, std::uint32_t* flags) noexcept {
    if (flags != nullptr) *flags = s_->hitFlags;
    return s_->hitItem;
}

Point FakeTree::ScreenToClient(Point screen) noexcept {
    return {screen.x - kClientOrigin.x, screen.y - kClientOrigin.y};
}

void FakeTree::ModifyStyle(std::uint32_t remove, std::uint32_t add) noexcept {
    const std::uint32_t old = s_->style;
    s_->style = (old & ~remove) | add;
    const bool had = (old & tv::kCheckBoxes) != 0;
    const bool has = (s_->style & tv::kCheckBoxes) != 0;
    if (had && !has) s_->checkBoxImages = false;
    if (!had && has) {
        // The control makes its images and gives every item an unchecked box.
        s_->checkBoxImages = true;
        for (auto& [handle, item] : s_->items) {
            item.state = (item.state & ~tv::kStateImageMask) | tv::StateImage(1);
        }
    }
}

}  // namespace qv::fake
