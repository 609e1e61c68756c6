#include "app/PackTree.h"

#include "app/PackLibrary.h"
#include "app/store/ProjectStore.h"

#include <QHash>
#include <QSet>

#include <limits>

namespace {

const QString rootGroupName = QStringLiteral("未归属");

// Each listed project's place in the project list.
QHash<QString, int> projectPlaces(const QList<ProjectInfo> &projects)
{
    QHash<QString, int> places;
    places.reserve(projects.size());
    for (int i = 0; i < int(projects.size()); ++i)
        places.insert(projects[i].name, i);
    return places;
}

// The place of a pack's group: its project's place, after every project for the root group, -1
// for a project that is not listed (the tree does not show its packs).
int groupPlace(const CurvePack &pack, const QHash<QString, int> &places)
{
    return pack.project.isEmpty() ? std::numeric_limits<int>::max()
                                  : places.value(pack.project, -1);
}

} // namespace

QHash<QString, QList<int>> packsByGroup(const QList<CurvePack> &packs)
{
    QHash<QString, QList<int>> groups;
    for (int i = 0; i < int(packs.size()); ++i)
        groups[packs[i].project].append(i);
    return groups;
}

PackTree::PackTree(const ProjectStore &store, const PackLibrary &library, QObject *parent)
    : QAbstractListModel(parent)
    , store_(store)
    , library_(library)
{
    rows_ = rowsNow();
}

int PackTree::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

QVariant PackTree::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const Row &row = rows_[index.row()];
    switch (role) {
    case KindRole:
        return row.kind == Kind::Project ? QStringLiteral("project")
               : row.kind == Kind::Root  ? QStringLiteral("root")
                                         : QStringLiteral("pack");
    case NameRole:
        return row.name;
    case PositionRole:
        return row.position;
    case ExpandedRole:
        return row.expanded;
    case PackIndexRole:
        return row.packIndex;
    default:
        return {};
    }
}

QHash<int, QByteArray> PackTree::roleNames() const
{
    return {{KindRole, "kind"},
            {NameRole, "name"},
            {PositionRole, "position"},
            {ExpandedRole, "expanded"},
            {PackIndexRole, "packIndex"}};
}

void PackTree::setExpandedProjects(const QStringList &names)
{
    if (expanded_ == names)
        return;
    expanded_ = names;
    refresh();
    emit viewChanged();
}

void PackTree::setRootExpanded(bool expanded)
{
    if (rootExpanded_ == expanded)
        return;
    rootExpanded_ = expanded;
    refresh();
    emit viewChanged();
}

void PackTree::setQuery(const QString &query)
{
    if (query_ == query)
        return;
    query_ = query;
    refresh();
    emit viewChanged();
}

void PackTree::refresh()
{
    update(rowsNow());
}

// ---- the rows -------------------------------------------------------------------------------

QList<PackTree::Row> PackTree::rowsNow() const
{
    const QList<CurvePack> &packs = store_.curvePacks;
    const QHash<QString, QList<int>> groups = packsByGroup(packs);
    const QString query = query_.toLower();
    const auto matches = [&query](const QString &name) {
        return query.isEmpty() || name.toLower().contains(query);
    };
    // The matching packs of a group; packs of one name are told apart by their order.
    const auto packRows = [&](const QList<int> &members) {
        QList<Row> found;
        QHash<QString, int> named;
        for (const int i : members) {
            const CurvePack &pack = packs[i];
            if (matches(pack.name))
                found.append(
                        {Kind::Pack, pack.project, pack.name, named[pack.name]++, -1, false, i});
        }
        return found;
    };
    // A group that is closed without a search shows no packs: they are not even looked at.
    const auto shownPacks = [&](bool open, const QList<int> &members) {
        return open || !query.isEmpty() ? packRows(members) : QList<Row>();
    };

    QList<Row> rows;
    for (int p = 0; p < int(store_.projects.size()); ++p) {
        const QString &name = store_.projects[p].name;
        const bool open = expanded_.contains(name);
        const QList<Row> members = shownPacks(open, groups.value(name));
        if (!query.isEmpty() && !matches(name) && members.isEmpty())
            continue;
        rows.append({Kind::Project, name, name, 0, p, open, -1});
        rows += members;
    }
    const QList<Row> loose = shownPacks(rootExpanded_, groups.value(QString()));
    if (query.isEmpty() || !loose.isEmpty()) {
        rows.append({Kind::Root, QString(), rootGroupName, 0, -1, rootExpanded_, -1});
        rows += loose;
    }
    return rows;
}

// The rows are brought to `next` in three steps, each telling the views what it does: the rows
// that went are removed, the new and the moved ones put in place, and those that stayed with
// other contents reported changed. Only the span between the rows unchanged at both ends is
// looked at closely.
void PackTree::update(const QList<Row> &next)
{
    const Span span = changedSpan(next);
    removeGone(next, span);
    placeInOrder(next, span);
    reportChanged(next);
}

PackTree::Span PackTree::changedSpan(const QList<Row> &next) const
{
    const qsizetype shorter = std::min(rows_.size(), next.size());
    Span span;
    while (span.first < shorter && rows_[span.first] == next[span.first])
        ++span.first;
    while (span.keptAtEnd < shorter - span.first
           && rows_[rows_.size() - 1 - span.keptAtEnd] == next[next.size() - 1 - span.keptAtEnd])
        ++span.keptAtEnd;
    return span;
}

void PackTree::removeGone(const QList<Row> &next, Span span)
{
    const QSet<Row> wanted(next.cbegin() + span.first, next.cend() - span.keptAtEnd);
    for (qsizetype last = rows_.size() - span.keptAtEnd - 1; last >= span.first; --last) {
        if (wanted.contains(rows_[last]))
            continue;
        qsizetype first = last;
        while (first > span.first && !wanted.contains(rows_[first - 1]))
            --first;
        beginRemoveRows({}, int(first), int(last));
        rows_.remove(first, last - first + 1);
        endRemoveRows();
        last = first;
    }
}

// Walks `next` from the top of the span: a row already in place stays, a run of new rows is
// inserted, and a run of rows found further down in the same order (a group that moved up, as a
// project whose file was just written does) is moved up as one block.
void PackTree::placeInOrder(const QList<Row> &next, Span span)
{
    const QSet<Row> present(rows_.cbegin() + span.first, rows_.cend() - span.keptAtEnd);
    const qsizetype end = next.size() - span.keptAtEnd;
    for (qsizetype i = span.first; i < end;) {
        if (i < rows_.size() && rows_[i] == next[i]) {
            ++i;
            continue;
        }
        qsizetype run = 1;
        if (!present.contains(next[i])) {
            while (i + run < end && !present.contains(next[i + run]))
                ++run;
            beginInsertRows({}, int(i), int(i + run - 1));
            rows_ = rows_.first(i) + next.mid(i, run) + rows_.sliced(i);
            endInsertRows();
        } else {
            qsizetype from = i + 1;
            while (!(rows_[from] == next[i]))
                ++from;
            while (i + run < end && from + run < rows_.size() - span.keptAtEnd
                   && rows_[from + run] == next[i + run])
                ++run;
            beginMoveRows({}, int(from), int(from + run - 1), {}, int(i));
            const QList<Row> block = rows_.mid(from, run);
            rows_.remove(from, run);
            rows_ = rows_.first(i) + block + rows_.sliced(i);
            endMoveRows();
        }
        i += run;
    }
}

void PackTree::reportChanged(const QList<Row> &next)
{
    QList<std::pair<int, int>> changed;
    for (qsizetype i = 0; i < next.size(); ++i) {
        if (next[i].showsAsBefore(rows_[i]))
            continue;
        if (!changed.isEmpty() && changed.last().second == i - 1)
            changed.last().second = int(i);
        else
            changed.append({int(i), int(i)});
    }
    rows_ = next;
    for (const auto &[first, last] : std::as_const(changed))
        emit dataChanged(index(first), index(last), {PositionRole, ExpandedRole, PackIndexRole});
}

// ---- packs the window asks for --------------------------------------------------------------

QVariantMap PackTree::packAt(int index) const
{
    if (index < 0 || index >= store_.curvePacks.size())
        return {};
    const CurvePack &pack = store_.curvePacks[index];
    if (groupPlace(pack, projectPlaces(store_.projects)) < 0)
        return {};
    return library_.summary(pack, index);
}

QVariantMap PackTree::latestPack() const
{
    const QList<CurvePack> &packs = store_.curvePacks;
    const QHash<QString, int> places = projectPlaces(store_.projects);
    int best = -1;
    for (int i = 0; i < int(packs.size()); ++i) {
        if (groupPlace(packs[i], places) >= 0 && (best < 0 || packs[i].seq >= packs[best].seq))
            best = i;
    }
    return best < 0 ? QVariantMap() : library_.summary(packs[best], best);
}

QVariantMap PackTree::packNamed(const QString &name) const
{
    const QList<CurvePack> &packs = store_.curvePacks;
    const QHash<QString, int> places = projectPlaces(store_.projects);
    int best = -1;
    int bestPlace = 0;
    for (int i = 0; i < int(packs.size()); ++i) {
        const int place = packs[i].name == name ? groupPlace(packs[i], places) : -1;
        if (place >= 0 && (best < 0 || place < bestPlace)) {
            best = i;
            bestPlace = place;
        }
    }
    return best < 0 ? QVariantMap() : library_.summary(packs[best], best);
}

QString PackTree::firstProject() const
{
    return store_.projects.isEmpty() ? QString() : store_.projects.first().name;
}

QVariantMap PackTree::dropTarget(int row) const
{
    if (row < 0 || row >= rows_.size())
        return {};
    const Row &target = rows_[row];
    if (target.kind == Kind::Pack)
        return {{QStringLiteral("before"), target.packIndex},
                {QStringLiteral("project"), target.group}};
    const Row next = rows_.value(row + 1);
    return {{QStringLiteral("before"), next.kind == Kind::Pack ? next.packIndex : -1},
            {QStringLiteral("project"), target.group}};
}
