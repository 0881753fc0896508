#pragma once

#include <utility>

namespace ludex {

// A new widget (or layout) of the dialogs, made with the constructor's arguments and carrying its
// object name: the name by which the language files, the published properties and the tests find
// it.
template <class TWidget, class... TArgs>
TWidget* NewNamed(const char* name, TArgs&&... args) {
    auto* widget = new TWidget(std::forward<TArgs>(args)...);
    widget->setObjectName(name);
    return widget;
}

} // namespace ludex
