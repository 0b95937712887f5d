#pragma once

#include <QWidget>

class wifi : public QWidget {
public:
    explicit wifi(QWidget *parent = nullptr);
};
