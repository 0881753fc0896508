#include "gui/tree/BranchViewStyle.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QStyleFactory>
#include <QStyleOption>

namespace ludex {

TBranchViewStyle::TBranchViewStyle()
    : TBranchViewStyle(QStyleFactory::create(QApplication::style()->name())) {}

TBranchViewStyle::TBranchViewStyle(QStyle* base) : QProxyStyle(base) {}

void TBranchViewStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                     const QWidget* widget) const {
    if (element == PE_IndicatorBranch && option != nullptr) {
        // Branch indicators are drawn into the view's viewport; one outside it cannot be seen.
        const auto* view = qobject_cast<const QAbstractScrollArea*>(widget);
        if (view != nullptr && !option->rect.intersects(view->viewport()->rect())) {
            return;
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

} // namespace ludex
