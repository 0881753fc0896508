#pragma once

#include "app/LudexApplication.h"

#include <QObject>

#include <type_traits>
#include <utility>

namespace ludex {

// Runs `handler` whenever `signal` of `sender` fires, for as long as `context` lives. An error
// that leaves the handler ends that command only: it is shown in the general error box here,
// rather than being thrown through Qt's signal delivery.
template <typename TSender, typename TSignal, typename THandler>
void ConnectCommand(TSender* sender, TSignal signal, QObject* context, THandler handler) {
    QObject::connect(sender, signal, context, [handler = std::move(handler)](auto&&... arguments) {
        try {
            // A handler may leave out the signal's arguments (QAction::triggered's checked state).
            if constexpr (std::is_invocable_v<const THandler&, decltype(arguments)...>) {
                handler(std::forward<decltype(arguments)>(arguments)...);
            } else {
                handler();
            }
        } catch (...) {
            ShowCurrentException();
        }
    });
}

} // namespace ludex
