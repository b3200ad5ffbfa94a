// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// Every message box and file dialog of the tool goes through IPrompts, so the
// window can run headless under test with a fake that records the texts.
#include <QString>
#include <optional>

class QWidget;

class IPrompts {
public:
    enum class Icon { None, Exclamation };
    virtual ~IPrompts() = default;
    // OK only, caption "Orvane"; detail, when not empty, is shown below the text
    virtual void MessageBox(const QString& text, Icon icon, const QString& detail = {}) = 0;
    virtual std::optional<QString> GetOpenFileName(const QString& filter) = 0;   // nullopt: cancelled
    // A file to write (it may exist; the dialog asks before replacing it); nullopt: cancelled.
    virtual std::optional<QString> GetSaveFileName(const QString& filter) { (void)filter; return std::nullopt; }
    // The folder the next file dialog opens in (empty: the current directory);
    // a file dialog that ends with a file moves it to that file's folder.
    virtual void SetStartFolder(const QString& folder) { (void)folder; }
    virtual QString StartFolder() const { return {}; }
};

// The real thing: QMessageBox and QFileDialog.
class CQtPrompts final : public IPrompts {
public:
    explicit CQtPrompts(QWidget* parent = nullptr) : m_parent(parent) {}
    void SetParent(QWidget* parent) { m_parent = parent; }
    void MessageBox(const QString& text, Icon icon, const QString& detail = {}) override;
    std::optional<QString> GetOpenFileName(const QString& filter) override;
    std::optional<QString> GetSaveFileName(const QString& filter) override;
    void SetStartFolder(const QString& folder) override { m_startFolder = folder; }
    QString StartFolder() const override { return m_startFolder; }

private:
    QWidget* m_parent;
    QString m_startFolder;
};
