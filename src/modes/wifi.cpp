#include "wifi.h"

wifi::wifi(QWidget *parent)
    : QWidget(parent)
{
}
