#pragma once

#include "shell/texts.h"

#include <QWidget>

class QTextBrowser;
class QToolButton;
class QUrl;

namespace Kv402 {

// The help files, one per interface language, looked for in the working directory. They are HTML
// documents under these names.
inline constexpr Bilingual HelpFileName{"kv402.hlp", "kv402ing.hlp"};

// The program's help viewer: one help document at a time, whose links are followed. It is shown
// without an owner window and destroyed when it is closed.
class HelpWindow : public QWidget
{
    Q_OBJECT

public:
    explicit HelpWindow(QWidget *parent = nullptr);

    // Shows the file from its top, with the buttons captioned in the language, and brings the
    // window to the front. A file that is missing or cannot be read leaves the window as it was,
    // hidden if it was never shown, and returns false.
    bool showFile(const QString &fileName, Language language);

    // The absolute path of the document shown; empty before the first one.
    QString currentFile() const;

    QTextBrowser *browser() const { return m_browser; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void followLink(const QUrl &link);
    void updateTitle();

    QTextBrowser *m_browser = nullptr;
    QToolButton *m_back = nullptr;
    QToolButton *m_forward = nullptr;
    QToolButton *m_contents = nullptr;
    bool m_shownOnce = false;
};

} // namespace Kv402
