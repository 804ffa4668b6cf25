// Shows release notes as rich text that can reach nothing beyond itself.
#pragma once

#include <QTextBrowser>

namespace quaymark {

// Release notes come from the network, so they load no images, style sheets or other files
// (only resources inlined as data URLs), open no links, and lose their scripts before display
// (Qt runs none, but their text would show).
class ReleaseNotesBrowser : public QTextBrowser {
    Q_OBJECT
public:
    explicit ReleaseNotesBrowser(QWidget* parent = nullptr);

    void showNotes(const QString& html);

    // An empty value (nothing loaded) for every resource that is not a data URL.
    QVariant loadResource(int type, const QUrl& name) override;
};

}  // namespace quaymark
