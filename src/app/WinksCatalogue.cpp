#include "app/WinksCatalogue.h"

#include "base/ScopeExit.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyle>

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

namespace zephyrine::app {

using platform::TXMLNode;
using platform::TXMLNodeRaw;

namespace {

// The fewest bytes an item takes in the file, for the room reserved before a load.
constexpr std::uintmax_t kMinItemBytes = 64;

QIcon DrawIcon(bool category) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    if (category) {  // a folder
        p.setPen(QColor(0x9c, 0x6b, 0x10));
        p.setBrush(QColor(0xf4, 0xc4, 0x50));
        p.drawRect(1, 3, 6, 3);
        p.drawRect(1, 5, 14, 9);
    } else {  // a star
        p.setPen(QColor(0x20, 0x50, 0xa0));
        p.setBrush(QColor(0x60, 0xa0, 0xf0));
        const QPointF star[10] = {{8, 1},  {10, 6},   {15, 6},  {11, 9.5}, {12.5, 15},
                                  {8, 12}, {3.5, 15}, {5, 9.5}, {1, 6},    {6, 6}};
        p.drawPolygon(star, 10);
    }
    return QIcon(pixmap);
}

}  // namespace

TImageList::TImageList() : images_{DrawIcon(true), DrawIcon(false)} {}

TWinksTreeModel::TWinksTreeModel(const TImageList& images, QObject* parent)
    : QAbstractItemModel(parent), images_(images) {}

void TWinksTreeModel::BeginLoad() {
    beginResetModel();
    categories_.clear();
    items_.clear();
    doc_.reset();
    trailing_ = false;
    trailingDoc_.reset();
}

void TWinksTreeModel::EndLoad() {
    endResetModel();
}

void TWinksTreeModel::Clear() {
    BeginLoad();
    EndLoad();
}

int TWinksTreeModel::AppendCategory(TXMLNodeRaw element) {
    categories_.push_back(TCategory{element, items_.size(), 0});
    return static_cast<int>(categories_.size()) - 1;
}

void TWinksTreeModel::AppendItem(int category, TXMLNodeRaw element, const char* caption) {
    items_.push_back(TItem{element, caption, 0});
    ++categories_[static_cast<std::size_t>(category)].count;
}

int TWinksTreeModel::ItemCount(int category) const {
    return categories_.at(static_cast<std::size_t>(category)).count;
}

QModelIndex TWinksTreeModel::ItemIndex(int category, int item) const {
    return index(item, 0, CategoryIndex(category));
}

const TWinksTreeModel::TItem* TWinksTreeModel::ItemAt(const QModelIndex& node) const {
    if (!node.isValid() || node.model() != this || node.internalId() == kCategoryId) return nullptr;
    return &items_[categories_[CategoryOfItemId(node.internalId())].first +
                   static_cast<std::size_t>(node.row())];
}

TXMLNode TWinksTreeModel::ItemElement(const QModelIndex& node) const {
    const TItem* item = ItemAt(node);
    if (item == nullptr) return TXMLNode();
    return TXMLNode(InTrailingCategory(node) ? trailingDoc_ : doc_, item->element);
}

void TWinksTreeModel::SetTrailingCategory(std::shared_ptr<const pugi::xml_document> doc,
                                          TXMLNodeRaw element, const QString& caption) {
    if (trailing_) {
        const int row = CategoryCount() - 1;
        beginRemoveRows({}, row, row);
        items_.resize(categories_.back().first);
        categories_.pop_back();
        trailing_ = false;
        trailingDoc_.reset();
        endRemoveRows();
    }
    if (!doc) return;
    const int row = CategoryCount();
    beginInsertRows({}, row, row);
    TCategory category{element, items_.size(), 0};
    for (TXMLNodeRaw item = element.first_child(); item; item = item.next_sibling()) {
        const pugi::xml_attribute name = item.attribute("WinkName");
        if (item.type() == pugi::node_element && name) {
            items_.push_back(TItem{item, name.value(), 0});
            ++category.count;
        }
    }
    categories_.push_back(category);
    trailing_ = true;
    trailingDoc_ = std::move(doc);
    trailingCaption_ = caption;
    endInsertRows();
}

bool TWinksTreeModel::InTrailingCategory(const QModelIndex& node) const {
    if (!trailing_ || !node.isValid() || node.model() != this) return false;
    const int category = node.internalId() == kCategoryId
                             ? node.row()
                             : static_cast<int>(CategoryOfItemId(node.internalId()));
    return category == CategoryCount() - 1;
}

QString TWinksTreeModel::Caption(const QModelIndex& node) const {
    return data(node, Qt::DisplayRole).toString();
}

int TWinksTreeModel::ImageIndex(const QModelIndex& node) const {
    if (!node.isValid()) return -1;
    return IsItem(node) ? kItemImage : kCategoryImage;
}

int TWinksTreeModel::SelectedImageIndex(const QModelIndex& node) const {
    return IsItem(node) ? kItemImage : -1;
}

int TWinksTreeModel::StateIndex(const QModelIndex& node) const {
    const TItem* item = ItemAt(node);
    return item != nullptr ? item->stateIndex : 0;
}

void TWinksTreeModel::SetStateIndex(const QModelIndex& node, int stateIndex) {
    if (const TItem* item = ItemAt(node)) {
        const_cast<TItem*>(item)->stateIndex = stateIndex;
        emit dataChanged(node, node, {Qt::CheckStateRole});
    }
}

QModelIndex TWinksTreeModel::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid()) {
        return row < CategoryCount() ? createIndex(row, 0, kCategoryId) : QModelIndex();
    }
    if (parent.internalId() != kCategoryId) return {};  // items have no children
    const int category = parent.row();
    if (row >= ItemCount(category)) return {};
    return createIndex(row, 0, ItemIdOfCategory(static_cast<std::size_t>(category)));
}

QModelIndex TWinksTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kCategoryId) return {};
    return createIndex(static_cast<int>(CategoryOfItemId(child.internalId())), 0, kCategoryId);
}

int TWinksTreeModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return CategoryCount();
    if (parent.internalId() != kCategoryId) return 0;
    return ItemCount(parent.row());
}

int TWinksTreeModel::columnCount(const QModelIndex&) const {
    return 1;
}

bool TWinksTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant TWinksTreeModel::data(const QModelIndex& node, int role) const {
    if (!node.isValid()) return {};
    const bool isItem = node.internalId() != kCategoryId;
    switch (role) {
        case Qt::DisplayRole:
            if (isItem) return QString::fromUtf8(ItemAt(node)->caption);
            if (InTrailingCategory(node)) return trailingCaption_;
            return QString::fromUtf8(
                TXMLNode::LocalNameOf(categories_[static_cast<std::size_t>(node.row())].element));
        case Qt::DecorationRole:
            return images_.Image(isItem ? kItemImage : kCategoryImage);
        case Qt::CheckStateRole:
            if (isItem && !InTrailingCategory(node))
                return ItemAt(node)->stateIndex == 2 ? Qt::Checked : Qt::Unchecked;
            return {};
        default:
            return {};
    }
}

bool TWinksTreeModel::setData(const QModelIndex& node, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || ItemAt(node) == nullptr) return false;
    SetStateIndex(node, value.toInt() == Qt::Checked ? 2 : 1);
    return true;
}

Qt::ItemFlags TWinksTreeModel::flags(const QModelIndex& node) const {
    if (!node.isValid()) return Qt::NoItemFlags;
    const Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;  // read-only captions
    // The trailing category's items are installed one at a time, never checked.
    const bool checkable = node.internalId() != kCategoryId && !InTrailingCategory(node);
    return checkable ? flags | Qt::ItemIsUserCheckable : flags;
}

qsizetype WriteFoldedCaption(QString& into, qsizetype at, std::string_view utf8) {
    const auto size = static_cast<qsizetype>(utf8.size());
    if (into.size() < at + size) into.resize(at + size);
    QChar* out = into.data() + at;
    for (qsizetype i = 0; i < size; ++i) {
        const auto c = static_cast<unsigned char>(utf8[static_cast<std::size_t>(i)]);
        if (c >= 0x80) {
            const QString folded = QString::fromUtf8(utf8.data(), size).toCaseFolded();
            if (into.size() < at + folded.size()) into.resize(at + folded.size());
            std::copy(folded.cbegin(), folded.cend(), into.begin() + at);
            return at + folded.size();
        }
        out[i] = QChar(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
    }
    return at + size;
}

TCatalogueLoad LoadCatalogue(platform::TXMLDocument& doc, const std::string& fileName,
                             TWinksTreeModel& model, const platform::TXMLDocument* parsed) {
    TCatalogueLoad load;
    // Every node removed; the views see the model again when the load ends, whichever way.
    model.BeginLoad();
    const base::ScopeExit endLoad([&model] { model.EndLoad(); });
    try {
        // Close the document, set its file name, open it again.
        doc.Deactivate();
        if (parsed != nullptr) doc = *parsed;
        doc.SetFileName(fileName);
        if (parsed == nullptr) doc.Activate();
        const TXMLNode root = doc.DocumentElement();
        model.SetDocument(root.Document());
        std::error_code sizeError;
        const std::uintmax_t bytes = std::filesystem::file_size(fileName, sizeError);
        if (!sizeError) model.ReserveItems(static_cast<std::size_t>(bytes / kMinItemBytes));
        // The categories in document order, each with its items. The first category
        // is complete once a second one begins or the walk ends.
        int categoriesBegun = 0;
        WalkCatalogue(
            root,
            [&](TXMLNodeRaw element) {
                if (++categoriesBegun == 2) load.ExpandFirst = true;
                return model.AppendCategory(element);
            },
            [&](int category, TXMLNodeRaw item, const char* caption) {
                model.AppendItem(category, item, caption);
                ++load.ItemCount;
            });
        if (categoriesBegun > 0) load.ExpandFirst = true;
        load.Ok = true;
    } catch (const std::exception& e) {
        load.Error = e.what();
    } catch (...) {
        load.Error = "Unknown error";
    }
    return load;
}

}  // namespace zephyrine::app
