#pragma once

#include <QString>

class QWidget;

namespace vintrix {

// A modal message with one OK button, no icon and the application's name as
// its title; returns once the user has closed it.
void ShowPlainMessage(QWidget* parent, const QString& text);

}  // namespace vintrix
