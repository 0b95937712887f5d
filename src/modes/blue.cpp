#include "blue.h"

blue::blue(QWidget *parent)
    : QWidget(parent)
{
}
