#pragma once

#include <QObject>

#include <functional>
#include <type_traits>
#include <utility>

namespace ludex {

// Every user command (a menu item, a tool button, a key, a tree notification that runs a command,
// a dialog button, closing the window) runs through RunCommand, directly from an event handler or
// through ConnectCommand. An error that leaves the command ends that command only: its message is
// shown in the general error box (titled "Ludex", with the error sign, through the modal-question
// seam) and the program goes on. So no exception ever travels through Qt's signal or event
// delivery, which Qt does not allow; TLudexApplication::notify is only the last net for what
// something outside the program's commands might let through.

// A check made before every command with the object the command came from. A check that throws
// fails the command as the command itself would, before anything of it runs. The program makes
// none; tests install one to prove that a command comes through here. Returns the previous check.
using TCommandCheck = std::function<void(const QObject& source)>;
TCommandCheck SetCommandCheck(TCommandCheck check);

// Runs a command that came from `source` (the action, button or widget that received it). True
// when it ended normally; false when it failed and its error has been shown, or when the user
// stopped it (ECancelled), which shows nothing.
bool RunCommand(const QObject& source, const std::function<void()>& command);

// Runs `handler` as a command whenever `signal` of `sender` fires, for as long as `context` lives.
// The handler takes the signal's arguments or none (QAction::triggered's checked state is of no
// interest to most commands).
template <typename TSender, typename TSignalOwner, typename... TArgs, typename THandler>
QMetaObject::Connection ConnectCommand(TSender* sender, void (TSignalOwner::*signal)(TArgs...),
                                       QObject* context, THandler handler) {
    const QObject* source = sender;
    return QObject::connect(sender, signal, context,
                            [source, handler = std::move(handler)](TArgs... arguments) {
                                RunCommand(*source, [&] {
                                    if constexpr (std::is_invocable_v<const THandler&, TArgs...>) {
                                        handler(std::forward<TArgs>(arguments)...);
                                    } else {
                                        handler();
                                    }
                                });
                            });
}

// Connects a notice that keeps the program's own records in step (a node about to be deleted, a
// selection that moved) and is no command. Such a handler must not fail, since a record left
// behind could point at a deleted node: the compiler holds it to `noexcept`. A handler that takes no
// arguments is told only that the signal fired.
template <typename TSender, typename TSignalOwner, typename... TArgs, typename THandler>
QMetaObject::Connection ConnectNotice(TSender* sender, void (TSignalOwner::*signal)(TArgs...),
                                      QObject* context, THandler handler) {
    static_assert(std::is_nothrow_invocable_v<const THandler&, TArgs...> ||
                      std::is_nothrow_invocable_v<const THandler&>,
                  "a notice handler takes the signal's arguments or none and is noexcept");
    return QObject::connect(sender, signal, context, std::move(handler));
}

} // namespace ludex
