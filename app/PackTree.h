#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class PackLibrary;
class ProjectStore;
struct CurvePack;

// The places in the pack list of each project's packs, by project name ("" for the packs in no
// project), each in list order: one pass over the list, however many projects there are.
QHash<QString, QList<int>> packsByGroup(const QList<CurvePack> &packs);

// The curve window's tree of projects and curve packs as the rows of a list model: every project
// in the project list's order, each followed by its packs while it is expanded, then the group
// "未归属" of the packs in no project, followed by them while it is expanded. A search text lists
// the groups whose name or one of whose packs' names holds it (in any case), each with its
// matching packs. The expanded projects, the root group's state and the search text are the
// window's, handed in as properties.
//
// After every change of the store (refresh()) the rows are brought up to it row by row: rows
// that went are removed, new ones inserted, a group that moved up is moved as a block, and rows
// whose contents changed are reported changed, so that a view keeps the delegates of every row
// that stays. A change of one pack touches one row; a view never needs to rebuild.
class PackTree : public QAbstractListModel
{
    Q_OBJECT
    Q_PROPERTY(QStringList expandedProjects READ expandedProjects WRITE setExpandedProjects NOTIFY
                       viewChanged)
    Q_PROPERTY(bool rootExpanded READ rootExpanded WRITE setRootExpanded NOTIFY viewChanged)
    Q_PROPERTY(QString query READ query WRITE setQuery NOTIFY viewChanged)

public:
    enum Role {
        KindRole = Qt::UserRole + 1, // "project", "root" or "pack"
        NameRole, // the project's, the group's or the pack's name
        PositionRole, // a project's place in the project list; -1 for the root group and packs
        ExpandedRole, // a group's rows follow it
        PackIndexRole, // a pack's index in the pack list; -1 for a group
    };

    PackTree(const ProjectStore &store, const PackLibrary &library, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    QStringList expandedProjects() const { return expanded_; }
    void setExpandedProjects(const QStringList &names);
    bool rootExpanded() const { return rootExpanded_; }
    void setRootExpanded(bool expanded);
    QString query() const { return query_; }
    void setQuery(const QString &query);

    // Brings the rows up to the store's project and pack lists.
    void refresh();

    // The summary of the pack at `index` of the pack list when the tree lists it in a group
    // (in a listed project or in no project); else an empty map.
    Q_INVOKABLE QVariantMap packAt(int index) const;
    // The newest pack of the groups: the greatest "seq", on equal seq the greater index; an empty
    // map without packs.
    Q_INVOKABLE QVariantMap latestPack() const;
    // The first pack of that name, the projects' first (in order), then the root group's.
    Q_INVOKABLE QVariantMap packNamed(const QString &name) const;
    // The first project of the list; empty without projects.
    Q_INVOKABLE QString firstProject() const;
    // Where a pack dropped on `row` goes, {"before": pack index or -1, "project": name or ""}:
    // onto a pack, before it in its project; onto a group, into it before the pack listed right
    // after the group's row, or at its end. Empty for no row.
    Q_INVOKABLE QVariantMap dropTarget(int row) const;

signals:
    void viewChanged();

private:
    enum class Kind { Project, Root, Pack };
    // One row: who it is (kind, group, name and, among packs of one name in one group, which),
    // and what else it shows.
    struct Row
    {
        Kind kind = Kind::Root;
        QString group; // the project of a project row or a pack; empty for the root group
        QString name;
        int occurrence = 0;
        int position = -1;
        bool expanded = false;
        int packIndex = -1;

        friend bool operator==(const Row &a, const Row &b)
        {
            return a.kind == b.kind && a.occurrence == b.occurrence && a.name == b.name
                   && a.group == b.group;
        }
        friend size_t qHash(const Row &row, size_t seed = 0)
        {
            return qHashMulti(seed, int(row.kind), row.group, row.name, row.occurrence);
        }
        bool showsAsBefore(const Row &earlier) const
        {
            return position == earlier.position && expanded == earlier.expanded
                   && packIndex == earlier.packIndex;
        }
    };
    // The rows that stay unchanged at the start and at the end, and the span between them.
    struct Span
    {
        qsizetype first = 0;
        qsizetype keptAtEnd = 0;
    };

    QList<Row> rowsNow() const;
    void update(const QList<Row> &next);
    Span changedSpan(const QList<Row> &next) const;
    void removeGone(const QList<Row> &next, Span span);
    void placeInOrder(const QList<Row> &next, Span span);
    void reportChanged(const QList<Row> &next);

    const ProjectStore &store_;
    const PackLibrary &library_;
    QList<Row> rows_;
    QStringList expanded_;
    bool rootExpanded_ = true;
    QString query_;
};
