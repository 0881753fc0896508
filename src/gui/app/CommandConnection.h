#pragma once

#include "gui/app/LudexApplication.h"

#include <QObject>

#include <type_traits>
#include <utility>

namespace ludex {

// Runs `handler` whenever `signal` of `sender` fires, for as long as `context` lives. The handler
// takes the signal's arguments or none (QAction::triggered's checked state is of no interest).
// An error that leaves the handler ends that command only: it is shown in the general error box
// here, rather than being thrown through Qt's signal delivery.
template <typename TSender, typename TSignalOwner, typename... TArgs, typename THandler>
void ConnectCommand(TSender* sender, void (TSignalOwner::*signal)(TArgs...), QObject* context,
                    THandler handler) {
    QObject::connect(sender, signal, context, [handler = std::move(handler)](TArgs... arguments) {
        try {
            if constexpr (std::is_invocable_v<const THandler&, TArgs...>) {
                handler(std::forward<TArgs>(arguments)...);
            } else {
                handler();
            }
        } catch (...) {
            ShowCurrentException();
        }
    });
}

} // namespace ludex
