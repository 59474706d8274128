// The catalogue tree: a model over the parsed WinksList.dat. Categories are the
// children of the document element, items the children of a category. The model keeps no copies
// of names or attribute values: each node refers to its XML element (valid while the document
// stays loaded; LoadCatalogue empties the model before it reloads the document), and captions
// are read from the document when the view asks. LoadCatalogue is the heart of LoadWinksList,
// on a model and a document, and can be driven by tests without a window.
#pragma once

#include "platform/XMLDocument.h"

#include <QAbstractItemModel>
#include <QIcon>

#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zephyrine::app {

// The internalId of an item node of a tree model: its category's number + 1 times an odd
// constant, never 0 (the categories' id). Qt hashes an index as (row << 4) + column +
// internalId: with small ids the items of different categories collide by the hundred, and every
// persistent index (expanded and hidden rows, selections) pays a long probe.
inline constexpr quintptr kCategoryId = 0;  // the internalId of every category node
inline constexpr quintptr kItemIdSpread = static_cast<quintptr>(0x9E3779B97F4A7C15ull);
inline constexpr quintptr kItemIdSpreadInverse = static_cast<quintptr>(0xF1DE83E19937733Dull);
static_assert(kItemIdSpread * kItemIdSpreadInverse == 1, "the spread must be invertible");
inline quintptr ItemIdOfCategory(std::size_t category) {
    return (static_cast<quintptr>(category) + 1) * kItemIdSpread;
}
inline std::size_t CategoryOfItemId(quintptr id) {
    return static_cast<std::size_t>(id * kItemIdSpreadInverse - 1);
}

// ImageList1: 16 x 16 images, 0 the category, 1 the catalogue item.
class TImageList {
  public:
    TImageList();
    const QIcon& Image(int index) const { return images_.at(static_cast<std::size_t>(index)); }
    int Count() const { return static_cast<int>(images_.size()); }

  private:
    std::array<QIcon, 2> images_;
};

class TWinksTreeModel : public QAbstractItemModel {
    Q_OBJECT
  public:
    static constexpr int kCategoryImage = 0;
    static constexpr int kItemImage = 1;

    explicit TWinksTreeModel(const TImageList& images, QObject* parent = nullptr);

    // Building (between BeginLoad and EndLoad the views see nothing; EndLoad shows the result).
    void BeginLoad();  // empties the model
    void EndLoad();
    void SetDocument(std::shared_ptr<const pugi::xml_document> doc) { doc_ = std::move(doc); }
    int AppendCategory(platform::TXMLNodeRaw element);  // caption: the element's local name
    // caption: the item's "WinkName" text, which must not be null (the caller checked it).
    // Items are appended category by category: category is the last one appended.
    void AppendItem(int category, platform::TXMLNodeRaw element, const char* caption);
    void ReserveItems(std::size_t count) { items_.reserve(count); }
    void Clear();
    // The category after the catalogue's (My Winks): element's items, captioned by their
    // "WinkName", from a document of its own; the category's caption is caption. Replaces the
    // one there was; a null doc removes it. A load of the catalogue removes it too.
    void SetTrailingCategory(std::shared_ptr<const pugi::xml_document> doc,
                             platform::TXMLNodeRaw element, const QString& caption);
    // The trailing category's row, -1 when there is none.
    int TrailingCategory() const { return trailing_ ? CategoryCount() - 1 : -1; }
    // A node (category or item) of the trailing category.
    bool InTrailingCategory(const QModelIndex& node) const;
    // The catalogue's own categories: all but the trailing one.
    int CatalogueCategoryCount() const { return CategoryCount() - (trailing_ ? 1 : 0); }

    // Reading.
    int CategoryCount() const { return static_cast<int>(categories_.size()); }
    int ItemCount(int category) const;
    // An item's caption, its UTF-8 text inside the document.
    const char* ItemCaption(int category, int item) const {
        return items_[categories_[static_cast<std::size_t>(category)].first +
                      static_cast<std::size_t>(item)]
            .caption;
    }
    QModelIndex CategoryIndex(int category) const { return index(category, 0); }
    QModelIndex ItemIndex(int category, int item) const;
    // A node is an item exactly when it has a parent.
    static bool IsItem(const QModelIndex& node) {
        return node.isValid() && node.parent().isValid();
    }
    // The data of an item node: its XML element as a counted reference; null for categories.
    platform::TXMLNode ItemElement(const QModelIndex& node) const;
    QString Caption(const QModelIndex& node) const;
    int ImageIndex(const QModelIndex& node) const;
    int SelectedImageIndex(const QModelIndex& node) const;  // -1: the tree's default
    // The state-image index of an item (checked when 2); 0 until someone sets it.
    int StateIndex(const QModelIndex& node) const;
    void SetStateIndex(const QModelIndex& node, int stateIndex);

    // QAbstractItemModel.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // Items carry a check box: checked is state-image index 2, unchecked 1.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  private:
    struct TItem {
        platform::TXMLNodeRaw element;
        const char* caption;  // the "WinkName" text inside the document
        int stateIndex;
    };
    // A category's items are items_[first, first + count): one array for the whole tree, which
    // keeps its room from one load to the next.
    struct TCategory {
        platform::TXMLNodeRaw element;
        std::size_t first;
        int count;
    };
    const TItem* ItemAt(const QModelIndex& node) const;

    const TImageList& images_;
    std::shared_ptr<const pugi::xml_document> doc_;
    std::vector<TCategory> categories_;
    std::vector<TItem> items_;
    // The trailing category: its document and caption, while it is there (the last category).
    bool trailing_ = false;
    std::shared_ptr<const pugi::xml_document> trailingDoc_;
    QString trailingCaption_;
};

// Writes a caption, from its UTF-8 text, into into at at, case-folded as QString::toCaseFolded
// folds it, and returns where it ends; into grows when it has no room left. An all-ASCII caption
// (A-Z folded to a-z) is copied without a string of its own: the filter reads 100,000 of them.
// Sized to the captions' UTF-8 bytes beforehand, into needs no growing as a rule: a UTF-16 text
// never has more units than its UTF-8 has bytes.
qsizetype WriteFoldedCaption(QString& into, qsizetype at, std::string_view utf8);

struct TCatalogueLoad {
    bool Ok = false;
    std::string Error;         // the exception's text when !Ok
    int ItemCount = 0;         // item nodes added, also when the load failed part-way
    bool ExpandFirst = false;  // the first category's items are all in place: expand it
};

// The walk the tree is built by, for every reader of a catalogue: onCategory(element) for each
// child of the document element in document order, returning the category's index, then
// onItem(index, element, caption) for each child of that category, caption being its "WinkName"
// text. An item without "WinkName" throws platform::EXMLDocError.
template <typename OnCategory, typename OnItem>
void WalkCatalogue(const platform::TXMLNode& root, OnCategory&& onCategory, OnItem&& onItem) {
    const platform::TXMLNodeList categories = root.ChildNodes();
    for (int i = 0; i < categories.Count(); ++i) {
        const platform::TXMLNodeRaw categoryElement = categories.RawItem(i);
        const int category = onCategory(categoryElement);
        for (platform::TXMLNodeRaw item = categoryElement.first_child(); item;
             item = item.next_sibling()) {
            onItem(category, item, platform::TXMLNode::AttributeValueOf(item, "WinkName").CStr());
        }
    }
}

// The heart of LoadWinksList: empty the model, reload doc from fileName, append the
// categories and items. An error ends the load where it happened; the nodes added so far stay.
// parsed, when given, is fileName's content parsed already: doc takes that parse instead of
// reading the file again.
TCatalogueLoad LoadCatalogue(platform::TXMLDocument& doc, const std::string& fileName,
                             TWinksTreeModel& model,
                             const platform::TXMLDocument* parsed = nullptr);

}  // namespace zephyrine::app
