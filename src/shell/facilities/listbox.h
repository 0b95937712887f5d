#pragma once

#include <QListWidget>
#include <QStringList>
#include <QTimer>

// A list box that lines are appended to at its end. It keeps only the newest `capacity` lines,
// never scrolls by itself, and can be scrolled sideways to the end of its widest line. Lines that
// come faster than anyone can read them reach the view together, ten times a second at most; a
// batch that leaves the list showing just what it showed before (a standing request's two lines
// taking turns) changes nothing on the screen.
class ListBox : public QListWidget {
    Q_OBJECT

public:
    explicit ListBox(int capacity, QWidget *parent = nullptr);

    // Appends at once, after whatever is still waiting for the next batch.
    void append(const QString &line);
    // Appends with the next batch.
    void appendSoon(const QString &line);
    // Shows at once whatever waits for the next batch.
    void flush();

    static constexpr int BatchMs = 100;

signals:
    // Every line as it reaches the list, in order, with its batch.
    void linesAdded(const QStringList &lines);

private:
    class Rows;

    bool keepsItsLines() const;
    void measureNewLines();

    const int m_capacity;
    Rows *m_rows;
    // The lines held, as the items show them.
    QStringList m_lines;
    QStringList m_pending;
    QStringList m_unmeasured;
    QTimer m_batch;
    QString m_measured[2];
};
