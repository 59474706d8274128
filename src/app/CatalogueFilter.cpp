#include "app/CatalogueFilter.h"

#include "app/WinksCatalogue.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTreeView>

#include <algorithm>
#include <cstring>
#include <string_view>

namespace zephyrine::app {

TCatalogueFilter::TCatalogueFilter(QTreeView* view, QObject* parent)
    : QAbstractItemModel(parent), view_(view), source_(view->model()) {
    using M = QAbstractItemModel;
    connect(source_, &M::modelAboutToBeReset, this, &TCatalogueFilter::SourceAboutToChange);
    connect(source_, &M::rowsAboutToBeInserted, this, &TCatalogueFilter::SourceAboutToChange);
    connect(source_, &M::rowsAboutToBeRemoved, this, &TCatalogueFilter::SourceAboutToChange);
    connect(source_, &M::layoutAboutToBeChanged, this, &TCatalogueFilter::SourceAboutToChange);
    connect(source_, &M::modelReset, this, &TCatalogueFilter::SourceChanged);
    connect(source_, &M::rowsInserted, this, &TCatalogueFilter::SourceChanged);
    connect(source_, &M::rowsRemoved, this, &TCatalogueFilter::SourceChanged);
    connect(source_, &M::layoutChanged, this, &TCatalogueFilter::SourceChanged);
    connect(source_, &M::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight,
                   const QList<int>& roles) {
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole)) stale_ = true;
                if (!Active() || resetting_) return;
                // A check set through the catalogue model shows here too.
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row) {
                    const QModelIndex node = FilterIndex(topLeft.siblingAtRow(row));
                    if (node.isValid()) emit dataChanged(node, node, roles);
                }
            });
}

void TCatalogueFilter::Reset() {
    // Read at the next keystroke: a load that is never searched never reads them.
    stale_ = true;
}

void TCatalogueFilter::SourceAboutToChange() {
    stale_ = true;
    if (!Active() || resetting_) return;
    resetting_ = true;
    beginResetModel();  // the rows refer to the catalogue's rows of before
    matches_.clear();
    shown_.clear();
}

void TCatalogueFilter::SourceChanged() {
    stale_ = true;
    if (!resetting_) return;
    resetting_ = false;
    // A new tree under an active filter: filtered again at once; clearing then shows it with
    // only its first category expanded, as a load leaves it.
    EnsureCaptions();
    for (std::size_t c = 0; c < categories_.size(); ++c)
        categories_[c].expandedBefore = c == 0;
    selectedBefore_ = QPersistentModelIndex();
    currentBefore_ = QPersistentModelIndex();
    scrollBefore_ = 0;
    Match(folded_);
    endResetModel();
    ExpandShown();
    emit CountsChanged(ShownCount(), TotalCount());
}

void TCatalogueFilter::EnsureCaptions() {
    if (!stale_) return;
    stale_ = false;
    categories_.clear();
    total_ = 0;
    const int count = source_->rowCount();
    categories_.resize(static_cast<std::size_t>(count));
    // The catalogue model's captions are read as its text, without a QVariant each.
    const auto* catalogue = qobject_cast<const TWinksTreeModel*>(source_);
    for (int c = 0; c < count; ++c) {
        TCategory& category = categories_[static_cast<std::size_t>(c)];
        const QModelIndex parent = source_->index(c, 0);
        const int items = source_->rowCount(parent);
        category.ends.resize(static_cast<std::size_t>(items));
        if (catalogue != nullptr) {
            // The sizes first, so that the category's text is allocated once.
            qsizetype bytes = 0;
            for (int i = 0; i < items; ++i) {
                const auto size = static_cast<qsizetype>(std::strlen(catalogue->ItemCaption(c, i)));
                category.ends[static_cast<std::size_t>(i)] = size;
                bytes += size;
            }
            category.folded.resize(bytes);
            qsizetype at = 0;
            for (int i = 0; i < items; ++i) {
                qsizetype& end = category.ends[static_cast<std::size_t>(i)];
                at = WriteFoldedCaption(category.folded, at,
                                        std::string_view(catalogue->ItemCaption(c, i),
                                                         static_cast<std::size_t>(end)));
                end = at;
            }
            category.folded.truncate(at);
        } else {
            for (int i = 0; i < items; ++i) {
                category.folded +=
                    source_->index(i, 0, parent).data(Qt::DisplayRole).toString().toCaseFolded();
                category.ends[static_cast<std::size_t>(i)] = category.folded.size();
            }
        }
        total_ += items;
    }
}

void TCatalogueFilter::Match(const QString& folded) {
    std::vector<std::pair<int, int>> next;
    // Every caption that contains the longer text contains the shorter one it extends; after a
    // new reading of the captions every caption is tried.
    if (!matches_.empty() && !folded_.isEmpty() && folded.contains(folded_) &&
        folded.size() > folded_.size()) {
        for (const auto& [c, i] : matches_)
            if (categories_[static_cast<std::size_t>(c)]
                    .Caption(static_cast<std::size_t>(i))
                    .contains(folded))
                next.emplace_back(c, i);
    } else {
        for (std::size_t c = 0; c < categories_.size(); ++c) {
            const TCategory& names = categories_[c];
            for (std::size_t i = 0; i < names.ends.size(); ++i)
                if (names.Caption(i).contains(folded))
                    next.emplace_back(static_cast<int>(c), static_cast<int>(i));
        }
    }
    matches_.swap(next);
    shown_.clear();
    for (std::size_t m = 0; m < matches_.size(); ++m) {
        if (shown_.empty() || shown_.back().category != matches_[m].first)
            shown_.push_back(TShown{matches_[m].first, static_cast<int>(m), 0});
        ++shown_.back().count;
    }
}

void TCatalogueFilter::SetText(const QString& text) {
    if (text == text_ && !stale_) return;
    const bool wasActive = Active();
    if (text.isEmpty()) {
        if (!wasActive) return;
        End();
    } else {
        if (!wasActive) Begin();
        const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
        const QPersistentModelIndex selectedSource(
            selected.isEmpty() ? QModelIndex() : SourceIndex(selected.front()));
        view_->setUpdatesEnabled(false);
        if (stale_) {
            EnsureCaptions();
            matches_.clear();  // rows of captions read before: every caption is tried again
        }
        const QString folded = text.toCaseFolded();
        beginResetModel();
        Match(folded);
        text_ = text;
        folded_ = folded;
        endResetModel();
        if (!wasActive) ShowModel(this);
        ShowAndReselect(selectedSource);
        view_->setUpdatesEnabled(true);
    }
    emit CountsChanged(ShownCount(), TotalCount());
}

void TCatalogueFilter::ShowModel(QAbstractItemModel* model) {
    QItemSelectionModel* old = view_->selectionModel();
    view_->setModel(model);
    if (old != nullptr && old->parent() == view_) delete old;  // the view made it, no one keeps it
    // The header is given a selection model of its own and then the view's: its own is left
    // behind, listening to the model. Every model switch would add one, and each keystroke's
    // reset would reach all of them.
    QHeaderView* header = view_->header();
    for (QItemSelectionModel* left :
         header->findChildren<QItemSelectionModel*>(Qt::FindDirectChildrenOnly))
        if (left != header->selectionModel()) delete left;
}

void TCatalogueFilter::Begin() {
    EnsureCaptions();
    for (std::size_t c = 0; c < categories_.size(); ++c)
        categories_[c].expandedBefore = view_->isExpanded(source_->index(static_cast<int>(c), 0));
    const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
    selectedBefore_ = selected.isEmpty() ? QModelIndex() : selected.front();
    currentBefore_ = view_->currentIndex();
    scrollBefore_ = view_->verticalScrollBar()->value();
}

void TCatalogueFilter::ExpandShown() {
    // Each category by itself: expandAll would also record every item as expanded.
    for (int row = 0; row < static_cast<int>(shown_.size()); ++row)
        view_->expand(createIndex(row, 0, kCategoryId));
}

void TCatalogueFilter::ShowAndReselect(const QModelIndex& selectedSource) {
    ExpandShown();
    const QModelIndex node = FilterIndex(selectedSource);
    if (node.isValid())
        view_->selectionModel()->setCurrentIndex(node, QItemSelectionModel::ClearAndSelect);
}

void TCatalogueFilter::End() {
    const QModelIndexList selected = view_->selectionModel()->selectedIndexes();
    const QPersistentModelIndex picked(selected.isEmpty() ? QModelIndex()
                                                          : SourceIndex(selected.front()));
    view_->setUpdatesEnabled(false);
    ShowModel(source_);
    beginResetModel();
    text_.clear();
    folded_.clear();
    matches_.clear();
    shown_.clear();
    endResetModel();
    for (std::size_t c = 0; c < categories_.size(); ++c)
        if (categories_[c].expandedBefore) view_->expand(source_->index(static_cast<int>(c), 0));
    QItemSelectionModel* selection = view_->selectionModel();
    // An item the user picked while filtering stays selected and in sight; otherwise the
    // selection, the current node and the scroll position are those of before.
    if (picked.isValid() && picked != selectedBefore_) {
        if (picked.parent().isValid()) view_->expand(picked.parent());
        selection->setCurrentIndex(picked, QItemSelectionModel::ClearAndSelect);
        view_->setUpdatesEnabled(true);
        view_->scrollTo(picked);
        return;
    }
    if (selectedBefore_.isValid())
        selection->setCurrentIndex(selectedBefore_, QItemSelectionModel::ClearAndSelect);
    else if (currentBefore_.isValid())
        selection->setCurrentIndex(currentBefore_, QItemSelectionModel::NoUpdate);
    view_->setUpdatesEnabled(true);
    view_->doItemsLayout();  // the scroll range of the whole tree, before the position is set
    view_->verticalScrollBar()->setValue(scrollBefore_);
}

int TCatalogueFilter::ShownCount() const {
    return Active() ? static_cast<int>(matches_.size()) : TotalCount();
}

int TCatalogueFilter::TotalCount() const {
    if (!stale_) return total_;
    int total = 0;
    for (int c = 0; c < source_->rowCount(); ++c)
        total += source_->rowCount(source_->index(c, 0));
    return total;
}

QString TCatalogueFilter::CountText() const {
    if (!Active()) return {};
    return QString("%1 of %2 shown").arg(ShownCount()).arg(TotalCount());
}

QModelIndex TCatalogueFilter::SourceIndex(const QModelIndex& node) const {
    if (node.model() != this) return node;
    if (node.internalId() == kCategoryId)
        return source_->index(shown_[static_cast<std::size_t>(node.row())].category, 0);
    const TShown& shown = shown_[CategoryOfItemId(node.internalId())];
    const auto& [category, item] = matches_[static_cast<std::size_t>(shown.first + node.row())];
    return source_->index(item, 0, source_->index(category, 0));
}

QModelIndex TCatalogueFilter::FilterIndex(const QModelIndex& source) const {
    if (!source.isValid() || source.model() != source_ || !Active()) return {};
    const QModelIndex sourceParent = source.parent();
    const int category = sourceParent.isValid() ? sourceParent.row() : source.row();
    const auto shown = std::lower_bound(shown_.begin(), shown_.end(), category,
                                        [](const TShown& s, int c) { return s.category < c; });
    if (shown == shown_.end() || shown->category != category) return {};
    const int shownRow = static_cast<int>(shown - shown_.begin());
    if (!sourceParent.isValid()) return createIndex(shownRow, 0, kCategoryId);
    const auto first = matches_.begin() + shown->first;
    const auto last = first + shown->count;
    const auto at = std::lower_bound(first, last, std::make_pair(category, source.row()));
    if (at == last || at->second != source.row()) return {};
    return createIndex(static_cast<int>(at - first), 0,
                       ItemIdOfCategory(static_cast<std::size_t>(shownRow)));
}

QModelIndex TCatalogueFilter::index(int row, int column, const QModelIndex& parent) const {
    if (column != 0 || row < 0) return {};
    if (!parent.isValid())
        return row < static_cast<int>(shown_.size()) ? createIndex(row, 0, kCategoryId)
                                                     : QModelIndex();
    if (parent.internalId() != kCategoryId) return {};
    if (row >= shown_[static_cast<std::size_t>(parent.row())].count) return {};
    return createIndex(row, 0, ItemIdOfCategory(static_cast<std::size_t>(parent.row())));
}

QModelIndex TCatalogueFilter::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == kCategoryId) return {};
    return createIndex(static_cast<int>(CategoryOfItemId(child.internalId())), 0, kCategoryId);
}

int TCatalogueFilter::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) return static_cast<int>(shown_.size());
    if (parent.internalId() != kCategoryId) return 0;
    return shown_[static_cast<std::size_t>(parent.row())].count;
}

int TCatalogueFilter::columnCount(const QModelIndex&) const {
    return 1;
}

bool TCatalogueFilter::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant TCatalogueFilter::data(const QModelIndex& node, int role) const {
    return SourceIndex(node).data(role);
}

bool TCatalogueFilter::setData(const QModelIndex& node, const QVariant& value, int role) {
    return source_->setData(SourceIndex(node), value, role);
}

Qt::ItemFlags TCatalogueFilter::flags(const QModelIndex& node) const {
    return source_->flags(SourceIndex(node));
}

}  // namespace zephyrine::app
