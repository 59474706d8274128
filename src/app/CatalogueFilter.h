// The Find filter over the catalogue tree (categories at the top level, items below them): only
// the items whose caption contains the text, compared case-blind, stay shown, with their
// categories, expanded. While a text is set the view shows this filter, a model of the matching
// rows only that reads and writes through to the catalogue model (so a check set or cleared here
// is the catalogue's own, and a checked item that is not shown stays checked); the work per
// keystroke is that of the rows shown. Clearing the text gives the view the catalogue model back,
// as it was before the filter began: the expansion of every category, the selection and the
// scroll position, unless the user picked an item while filtering, which then stays selected.
#pragma once

#include <QAbstractItemModel>
#include <QPersistentModelIndex>
#include <QString>

#include <utility>
#include <vector>

class QTreeView;

namespace zephyrine::app {

class TCatalogueFilter : public QAbstractItemModel {
    Q_OBJECT
  public:
    // Filters the model view shows now (the catalogue model); follows its resets and row changes.
    explicit TCatalogueFilter(QTreeView* view, QObject* parent = nullptr);

    // Reads the captions again at the next keystroke that leaves a text. Every load of the tree
    // does this by its model's reset; call it after changing captions some other way.
    void Reset();

    // Shows only the items whose caption contains text (case-blind); "" shows everything again.
    void SetText(const QString& text);
    void Clear() { SetText(QString()); }

    bool Active() const { return !text_.isEmpty(); }
    const QString& Text() const { return text_; }
    int ShownCount() const;  // items shown: all of them when inactive
    int TotalCount() const;
    // "N of M shown" while active; "" otherwise.
    QString CountText() const;

    // The catalogue model's index of a node of the view, whichever model it shows: a node of
    // this filter is mapped, any other index is returned as it is.
    QModelIndex SourceIndex(const QModelIndex& node) const;
    // This filter's node for a catalogue node; invalid when it is not shown.
    QModelIndex FilterIndex(const QModelIndex& source) const;

    // QAbstractItemModel: the matching categories and items.
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

  signals:
    // After every change of the text, and when the tree changed under an active filter.
    void CountsChanged(int shown, int total);

  private:
    struct TCategory {
        // The items' captions, case-folded, one after the other: item i's ends at ends[i].
        QString folded;
        std::vector<qsizetype> ends;
        QStringView Caption(std::size_t item) const {
            const qsizetype start = item == 0 ? 0 : ends[item - 1];
            return QStringView(folded).sliced(start, ends[item] - start);
        }
        bool expandedBefore = false;  // its expansion when the filter began
    };
    struct TShown {
        int category;  // the catalogue's row of the category
        int first;     // index into matches_ of its first match
        int count;
    };

    void EnsureCaptions();
    void Match(const QString& folded);
    void Begin();
    // Gives the view model, and releases the selection models the switch leaves behind.
    void ShowModel(QAbstractItemModel* model);
    void End();
    void ExpandShown();
    void ShowAndReselect(const QModelIndex& selectedSource);
    void SourceAboutToChange();
    void SourceChanged();

    QTreeView* view_;
    QAbstractItemModel* source_;
    bool stale_ = true;  // the captions must be read again before the next match
    bool resetting_ = false;  // between a change of the source's rows and its end
    QString text_;
    QString folded_;  // text_ case-folded
    std::vector<TCategory> categories_;
    int total_ = 0;
    std::vector<std::pair<int, int>> matches_;  // (category, item) of each match, in tree order
    std::vector<TShown> shown_;                 // the categories with matches, in tree order
    // What clearing restores, taken when the filter begins.
    QPersistentModelIndex selectedBefore_;
    QPersistentModelIndex currentBefore_;
    int scrollBefore_ = 0;
};

}  // namespace zephyrine::app
