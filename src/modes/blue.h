#pragma once

#include <QWidget>

class blue : public QWidget {
public:
    explicit blue(QWidget *parent = nullptr);
};
