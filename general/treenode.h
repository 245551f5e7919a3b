#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVariant>

#include <atomic>

namespace halvorn::general {

class MenuBuilder;
class TreeObserver;

// A node of the device tree: dongles, networks, devices, parameter groups,
// parameters, inputs and outputs.
//
// A node owns its children (they are not QObject children: a network lives
// in another thread than its dongle). It presents itself in five columns
// (name, number, min, max, value) and refreshes itself with update(),
// recursively over the children that take part in automatic updates.
//
// Thread safety: the child list, the name and the tool tip are guarded by the
// node's mutex (a leaf lock); the flags are atomic. Structural changes are
// made at once by the calling thread and reported to the attached
// TreeObserver, which forwards them to the GUI thread without blocking.
// See docs/architecture.md for the rules.
class TreeNode : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName)
    Q_PROPERTY(QString tooltip READ tooltip WRITE setTooltip)
    Q_PROPERTY(bool enabled READ isEnabled WRITE setEnabled)
    Q_PROPERTY(bool autoUpdate READ autoUpdate WRITE setAutoUpdate)
    Q_PROPERTY(int retryCount READ retryCount WRITE setRetryCount)

public:
    // The parent is remembered but the node becomes visible only when a
    // parent adds it (addChild or insertChild).
    explicit TreeNode(TreeNode* parent = nullptr);
    ~TreeNode() override;

    // Unique in the process: 1 for the first node constructed, then counting up.
    quint32 id() const { return m_id; }

    QString name() const;
    void setName(const QString& name);
    QString tooltip() const;
    void setTooltip(const QString& text);

    // True only if this node and all its ancestors are enabled.
    bool isEnabled() const;
    // This node's own flag, without its ancestors.
    bool isOwnEnabled() const { return m_enabled.load(); }
    void setEnabled(bool enabled);

    bool autoUpdate() const { return m_autoUpdate.load(); }
    // Setting it also sets it on every ancestor up to the first one that has it.
    void setAutoUpdate(bool autoUpdate);
    bool autoUpdateCheckable() const { return m_autoUpdateCheckable.load(); }
    void setAutoUpdateCheckable(bool checkable);
    int retryCount() const { return m_retryCount.load(); }
    void setRetryCount(int count);
    // 1 while update() runs on this node.
    int updateState() const { return m_updateState.load(); }
    void setUpdateState(int state);

    TreeNode* parentNode() const { return m_parent.load(); }
    int childCount() const;
    // nullptr when the index is out of range.
    TreeNode* child(int index) const;
    // A snapshot of the children, safe to iterate while others change the tree.
    QList<TreeNode*> childNodes() const;
    int indexOfChild(const TreeNode* child) const;
    // This node's index among its parent's children; 0 without a parent.
    int row() const;
    // The first direct child with this name, or nullptr.
    using QObject::findChild;
    TreeNode* findChild(const QString& name) const;

    TreeObserver* controller() const { return m_controller.load(); }
    // Attaches an observer to this node and its whole subtree.
    void setController(TreeObserver* controller);

    // Adds a child at the end, first moving it and its subtree to this
    // node's thread when asked (call from the child's current thread).
    void addChild(TreeNode* child, bool moveToMyThread);
    // False (and nothing changed) when row is outside 0..childCount(), when
    // the child is null, this node, or already a child of this node. A child
    // listed under another parent is removed from there first.
    bool insertChild(int row, TreeNode* child);
    // Removes every occurrence of the child; the child is not deleted. The
    // removed subtree loses its parent and its controller.
    void removeChild(TreeNode* child);
    // Removes this node from its parent and deletes it once no view refers
    // to it any more: the observer is told with nodeRemoved(parent, this,
    // true) and deletes it; without an observer the node is deleted through
    // deleteLater() in its own thread. The way to delete an attached node.
    void retire();

    // Diagnostic dump to standard output.
    virtual void printInfo();
    virtual QString toString() const;
    virtual int columnCount() const;
    virtual QVariant data(int column, int role) const;
    virtual bool setData(int column, const QVariant& value, int role);
    virtual Qt::ItemFlags flags(int column) const;
    // Describes the node's context-menu entries (base: "Update "<name>",
    // whose triggered() runs triggerUpdate()). Subclasses call the base first.
    virtual void populateMenu(MenuBuilder& menu);

public Q_SLOTS:
    // Refreshes the node: every child with manual set or with autoUpdate.
    // True only if every child called succeeded.
    virtual bool update(bool manual = true);
    // Queues an UpdateTask for this node on the task scheduler; the
    // scheduler deletes the task when it is done.
    virtual void triggerUpdate();

Q_SIGNALS:
    void nameChanged(QString n);
    void updateFinished();

protected:
    // Tells the observer (if any) that columns first..last of this row changed.
    void notifyChanged(int firstColumn, int lastColumn) const;

private:
    static constexpr int kAppend = -1;
    // Inserts at row, or at the end for kAppend.
    bool insertAt(int row, TreeNode* child);
    // Takes the child out of the list (every occurrence); true if it was there.
    bool detachChild(TreeNode* child);
    void moveSubtreeToThread(QThread* thread);

    const quint32 m_id;
    mutable QMutex m_mutex;
    QList<TreeNode*> m_children; // guarded by m_mutex
    QString m_name;              // guarded by m_mutex
    QString m_tooltip;           // guarded by m_mutex
    std::atomic<TreeNode*> m_parent;
    std::atomic<TreeObserver*> m_controller{nullptr};
    std::atomic<bool> m_enabled{true};
    std::atomic<bool> m_autoUpdate{false};
    std::atomic<bool> m_autoUpdateCheckable{true};
    std::atomic<int> m_updateState{0};
    std::atomic<int> m_retryCount{1};
};

} // namespace halvorn::general
