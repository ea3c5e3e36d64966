#pragma once

#include <QFileDialog>
#include <QStringList>

/// The "Add file" dialog: files and folders chosen together, several at a time, as the library takes
/// both. Qt's own dialog picks either files or one folder, so this one reads the choice from its views.
class FileChooser : public QFileDialog {
    Q_OBJECT

public:
    explicit FileChooser(const QString& prompt, QWidget* parent = nullptr);

    /// The files and folders chosen, as absolute paths.
    QStringList chosen() const { return chosen_; }

    void accept() override;

private:
    QStringList selectedInView() const;

    QStringList chosen_;
};
