#pragma once

#include <QLabel>

// Tells assistive technology of outcomes (devices found, an error), as a live region does: a notification kept out
// of sight, which screen readers speak when it says it shows. It says so only when the outcome differs from the one
// it last had, and only while the view that holds it is on screen; an outcome that comes while the view is hidden is
// taken as known, so that nobody hears it later. The texts that show the same outcome on screen stay plain labels:
// every load hides and shows them, which must not be spoken again.
class Announcer : public QLabel
{
    Q_OBJECT

public:
    explicit Announcer(QWidget* parent);

    // The current outcome. An empty one (nothing to report) leaves the last one as known.
    void say(const QString& outcome);
    // The user asked again (Save & Connect, Retry): the next outcome is said even when it repeats the last one.
    void expectAnswer();

Q_SIGNALS:
    // `outcome` was told to assistive technology.
    void announced(const QString& outcome);

private:
    bool m_answerExpected = false;
};
