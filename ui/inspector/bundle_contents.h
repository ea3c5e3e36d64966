#pragma once

#include <QString>
#include <QWidget>
#include <string>
#include <vector>

class AppModel;
struct Library;
struct ShareBundle;
class QVBoxLayout;

/// "In this link": the first entries of a bundle that still exist, folders first, and how many more.
class BundleContents : public QWidget {
    Q_OBJECT

public:
    /// How many entries are listed before "and N more".
    static constexpr int shownEntries = 4;

    /// One listed entry.
    struct Entry {
        QString name;
        bool isFolder = false;

        friend bool operator==(const Entry&, const Entry&) = default;
    };

    BundleContents(AppModel& model, QWidget* parent = nullptr);

    /// The bundle's folders that still exist, in its order, then its items that still exist.
    static std::vector<Entry> entries(const Library& library, const ShareBundle& bundle);
    /// "and 2 more" when `count` entries exist and only `shownEntries` are listed; empty otherwise.
    static QString moreLine(int count);

    /// Lists the bundle as the library holds it now.
    void setBundle(const ShareBundle& bundle);

private:
    AppModel& model_;
    QVBoxLayout* rows_;
};
