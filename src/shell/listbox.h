#pragma once

#include <QListWidget>
#include <QStringList>
#include <QTimer>

// A list box that lines are appended to at its end. It keeps only the newest `capacity` lines,
// never scrolls by itself, and can be scrolled sideways to the end of its widest line. Lines that
// come faster than a screen can show them reach the view together, at most once a frame.
class ListBox : public QListWidget {
public:
    explicit ListBox(int capacity, QWidget *parent = nullptr);

    // Appends at once, after whatever is still waiting for the next frame.
    void append(const QString &line);
    // Appends with the next frame.
    void appendSoon(const QString &line);
    // Shows at once whatever waits for the next frame.
    void flush();

    static constexpr int FrameMs = 16;

private:
    class Widths;

    void measure(const QString &line);

    const int m_capacity;
    Widths *m_widths;
    QStringList m_pending;
    QTimer m_frame;
    QString m_measured[2];
};
