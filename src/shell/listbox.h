#pragma once

#include <QListWidget>
#include <QStringList>
#include <QTimer>

// A list box that lines are appended to at its end. It keeps only the newest `capacity` lines,
// never scrolls by itself, and can be scrolled sideways to the end of its widest line. Lines that
// come faster than anyone can read them reach the view together, ten times a second at most.
class ListBox : public QListWidget {
public:
    explicit ListBox(int capacity, QWidget *parent = nullptr);

    // Appends at once, after whatever is still waiting for the next batch.
    void append(const QString &line);
    // Appends with the next batch.
    void appendSoon(const QString &line);
    // Shows at once whatever waits for the next batch.
    void flush();

    static constexpr int BatchMs = 100;

private:
    class Rows;

    void measureNewLines();

    const int m_capacity;
    Rows *m_rows;
    QStringList m_pending;
    QStringList m_unmeasured;
    QTimer m_batch;
    QString m_measured[2];
};
