#include "gui/tree/Pictures.h"

#include <QBitmap>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <stdexcept>

namespace ludex {

namespace {

// A painter on a white size x size image whose coordinates run from 0 to 16.
class TCanvas {
public:
    explicit TCanvas(int size) : image_(size, size, QImage::Format_RGB32) {
        image_.fill(Qt::white);
        painter_.begin(&image_);
        painter_.setRenderHint(QPainter::Antialiasing, true);
        painter_.scale(size / 16.0, size / 16.0);
    }
    QPainter& P() { return painter_; }
    QImage Take() {
        painter_.end();
        return image_;
    }

private:
    QImage image_;
    QPainter painter_;
};

const QColor kInk(40, 40, 40);
const QColor kPaper(252, 252, 246);
const QColor kLine(150, 150, 150);
const QColor kRed(200, 30, 30);
const QColor kGreen(30, 140, 50);
const QColor kBlue(40, 90, 170);
// Light enough that the red and gold of the marks keep their colour under the AND composition.
const QColor kCover(150, 190, 240);
const QColor kGold(210, 160, 40);

QPen Pen(const QColor& c, double width = 1.0) {
    QPen pen(c, width);
    pen.setJoinStyle(Qt::RoundJoin);
    pen.setCapStyle(Qt::RoundCap);
    return pen;
}

// Whether a sheet shows lines of text or is blank.
enum class TSheetText { Lines, Blank };

// A sheet with a folded upper right corner, with or without text lines.
void Sheet(QPainter& p, double x, double y, double w, double h, TSheetText text = TSheetText::Lines) {
    QPainterPath path;
    const double fold = 3.5;
    path.moveTo(x, y);
    path.lineTo(x + w - fold, y);
    path.lineTo(x + w, y + fold);
    path.lineTo(x + w, y + h);
    path.lineTo(x, y + h);
    path.closeSubpath();
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(kPaper);
    p.drawPath(path);
    p.drawLine(QPointF(x + w - fold, y), QPointF(x + w - fold, y + fold));
    p.drawLine(QPointF(x + w - fold, y + fold), QPointF(x + w, y + fold));
    if (text == TSheetText::Lines) {
        p.setPen(Pen(kLine, 0.7));
        for (double ly = y + fold + 2; ly < y + h - 1; ly += 2) {
            p.drawLine(QPointF(x + 1.8, ly), QPointF(x + w - 1.8, ly));
        }
    }
}

void Book(QPainter& p) {
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(kPaper);
    p.drawRect(QRectF(4, 2.5, 10, 12)); // pages
    p.setPen(Pen(QColor(30, 70, 150), 0.9));
    p.setBrush(kCover);
    p.drawRoundedRect(QRectF(2, 1.5, 10.5, 12.5), 1, 1); // cover
    p.setPen(Pen(QColor(30, 70, 150), 1.2));
    p.drawLine(QPointF(4, 2), QPointF(4, 13.5)); // spine
    p.setPen(Pen(QColor(30, 70, 150), 1));
    p.drawLine(QPointF(6, 5), QPointF(10.5, 5));
    p.drawLine(QPointF(6, 7), QPointF(10.5, 7));
}

void Scissors(QPainter& p, const QColor& c) {
    p.setPen(Pen(c, 1.3));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(2, 10, 4, 4));
    p.drawEllipse(QRectF(10, 10, 4, 4));
    p.drawLine(QPointF(5.5, 10.5), QPointF(11, 2));
    p.drawLine(QPointF(10.5, 10.5), QPointF(5, 2));
}

void TwoSheets(QPainter& p) {
    Sheet(p, 1.5, 1, 8.5, 10.5, TSheetText::Blank);
    Sheet(p, 6, 4.5, 8.5, 10.5);
}

void Plus(QPainter& p, const QColor& c, double cx, double cy, double r) {
    p.setPen(Pen(c, 2.0));
    p.drawLine(QPointF(cx - r, cy), QPointF(cx + r, cy));
    p.drawLine(QPointF(cx, cy - r), QPointF(cx, cy + r));
}

void Floppy(QPainter& p, double x, double y, double s) {
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(kBlue);
    p.drawRoundedRect(QRectF(x, y, s, s), 0.8, 0.8);
    p.setBrush(kPaper);
    p.drawRect(QRectF(x + s * 0.2, y + s * 0.5, s * 0.6, s * 0.45)); // label
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(x + s * 0.28, y, s * 0.44, s * 0.3)); // shutter
}

void Padlock(QPainter& p, const QColor& body, double x, double y, double s) {
    p.setPen(Pen(kInk, 1.0 * s / 12));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(x + s * 0.22, y, s * 0.56, s * 0.7), 0, 180 * 16);
    p.drawLine(QPointF(x + s * 0.22, y + s * 0.35), QPointF(x + s * 0.22, y + s * 0.5));
    p.drawLine(QPointF(x + s * 0.78, y + s * 0.35), QPointF(x + s * 0.78, y + s * 0.5));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(x + s * 0.08, y + s * 0.45, s * 0.84, s * 0.55), 1, 1);
}

void DrawTree(int index, QPainter& p) {
    switch (index) {
    case 0:
        Book(p);
        break;
    case 1:
        Sheet(p, 3, 1.5, 10, 13);
        break;
    case 2:
        Sheet(p, 5, 0.5, 9.5, 11.5, TSheetText::Blank);
        Sheet(p, 3.5, 2, 9.5, 11.5, TSheetText::Blank);
        Sheet(p, 2, 3.5, 9.5, 11.5);
        break;
    case 3: // modified: a red disc with a dark rim at the upper left, 8 pixels across
        p.setPen(Pen(Qt::black, 1.2));
        p.setBrush(QColor(230, 30, 30));
        p.drawEllipse(QRectF(0.6, 0.6, 7.8, 7.8));
        break;
    case 4:
        Scissors(p, kRed);
        break;
    case 5:
        TwoSheets(p);
        break;
    case 6: // locked: a padlock with a black shackle and a dark-rimmed gold body, lower right
        p.setPen(Pen(Qt::black, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawArc(QRectF(9.2, 6.3, 5.2, 6), 0, 180 * 16);
        p.drawLine(QPointF(9.2, 9.3), QPointF(9.2, 10.5));
        p.drawLine(QPointF(14.4, 9.3), QPointF(14.4, 10.5));
        p.setPen(Pen(Qt::black, 1.2));
        p.setBrush(kGold);
        p.drawRect(QRectF(7.8, 10.2, 8, 5.4));
        p.setPen(Pen(Qt::black, 1.2));
        p.drawLine(QPointF(11.8, 12), QPointF(11.8, 13.8));
        break;
    default:
        throw std::out_of_range("no tree picture " + std::to_string(index));
    }
}

void DrawTool(int index, QPainter& p) {
    switch (index) {
    case 0: // insert branch: a sheet with a plus
        Sheet(p, 1.5, 1, 9, 12);
        Plus(p, kGreen, 12, 12, 3);
        break;
    case 1: { // insert sub-branch: a sheet, an elbow arrow and a plus
        Sheet(p, 1, 1, 7, 8, TSheetText::Blank);
        p.setPen(Pen(kInk, 1));
        p.drawLine(QPointF(4, 9), QPointF(4, 13));
        p.drawLine(QPointF(4, 13), QPointF(8, 13));
        Plus(p, kGreen, 12, 12, 3);
        break;
    }
    case 2: // remove branch: a sheet with a red cross
        Sheet(p, 1.5, 1, 9, 12);
        p.setPen(Pen(kRed, 2));
        p.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
        p.drawLine(QPointF(14.5, 9.5), QPointF(9.5, 14.5));
        break;
    case 3:
        Scissors(p, kInk);
        break;
    case 4:
        TwoSheets(p);
        break;
    case 5: // paste: a clipboard
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(QColor(170, 120, 60));
        p.drawRoundedRect(QRectF(2, 2, 10, 13), 1, 1);
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(QRectF(4.5, 1, 5, 2.5));
        Sheet(p, 7, 6, 8, 9.5);
        break;
    case 6: { // resort: A over Z and a downward arrow
        QFont f("Sans");
        f.setPixelSize(7);
        f.setBold(true);
        p.setFont(f);
        p.setPen(kBlue);
        p.drawText(QRectF(0.5, 0, 8, 8), Qt::AlignCenter, "A");
        p.drawText(QRectF(0.5, 8, 8, 8), Qt::AlignCenter, "Z");
        p.setPen(Pen(kInk, 1.3));
        p.drawLine(QPointF(12, 2), QPointF(12, 14));
        p.drawLine(QPointF(9.5, 11.5), QPointF(12, 14));
        p.drawLine(QPointF(14.5, 11.5), QPointF(12, 14));
        break;
    }
    case 7: // new: a blank sheet with a spark
        Sheet(p, 2.5, 1, 10, 14, TSheetText::Blank);
        p.setPen(Pen(kGold, 1.4));
        p.drawLine(QPointF(12, 1), QPointF(12, 6));
        p.drawLine(QPointF(9.5, 3.5), QPointF(14.5, 3.5));
        break;
    case 8: { // open: a folder
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(QColor(230, 190, 80));
        p.drawRect(QRectF(1, 4, 13, 10));
        p.drawRect(QRectF(1, 2.5, 5, 2));
        QPainterPath flap;
        flap.moveTo(3, 7);
        flap.lineTo(15.5, 7);
        flap.lineTo(13.5, 14);
        flap.lineTo(1, 14);
        flap.closeSubpath();
        p.setBrush(QColor(245, 210, 110));
        p.drawPath(flap);
        break;
    }
    case 9:
        Floppy(p, 1.5, 1.5, 13);
        break;
    case 10:
        Floppy(p, 0.5, 0.5, 10);
        Floppy(p, 5.5, 5.5, 10);
        break;
    case 11: { // encrypt/decrypt: a key
        p.setPen(Pen(kInk, 1));
        p.setBrush(kGold);
        p.drawEllipse(QRectF(1, 1, 7, 7));
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(3.2, 3.2, 2.6, 2.6));
        p.setPen(Pen(kInk, 1.8));
        p.drawLine(QPointF(7, 7), QPointF(14.5, 14.5));
        p.drawLine(QPointF(12, 12), QPointF(10, 14));
        p.drawLine(QPointF(14, 14), QPointF(12.5, 15.5));
        break;
    }
    case 12:
        Padlock(p, kGold, 2, 1, 12);
        break;
    case 13: { // rename: a pencil over a text line
        p.setPen(Pen(kLine, 1));
        p.drawLine(QPointF(1, 14.5), QPointF(15, 14.5));
        QPainterPath pencil;
        pencil.moveTo(3, 12.5);
        pencil.lineTo(4, 9.5);
        pencil.lineTo(12, 1.5);
        pencil.lineTo(14, 3.5);
        pencil.lineTo(6, 11.5);
        pencil.closeSubpath();
        p.setPen(Pen(kInk, 0.8));
        p.setBrush(kGold);
        p.drawPath(pencil);
        break;
    }
    default:
        throw std::out_of_range("no tool picture " + std::to_string(index));
    }
}

} // namespace

namespace Pictures {

QImage TreePicture(int index, int size) {
    TCanvas canvas(size);
    DrawTree(index, canvas.P());
    return canvas.Take();
}

QImage ToolPicture(int index, int size) {
    TCanvas canvas(size);
    DrawTool(index, canvas.P());
    return canvas.Take();
}

QImage ComposeImage(const QImage& base, const QImage& mark) {
    QImage result = base.convertToFormat(QImage::Format_RGB32);
    QPainter p(&result);
    p.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    p.drawImage(0, 0, mark.convertToFormat(QImage::Format_RGB32));
    p.end();
    return result;
}

QIcon IconFromPictures(const std::function<QImage(int)>& draw) {
    QIcon icon;
    for (int size : {16, 24, 32, 48}) {
        QPixmap pixmap = QPixmap::fromImage(draw(size));
        pixmap.setMask(pixmap.createMaskFromColor(Qt::white, Qt::MaskInColor));
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace Pictures

int TPictureList::Add(std::function<QImage(int)> draw) {
    icons_.push_back(Pictures::IconFromPictures(draw));
    draws_.push_back(std::move(draw));
    return Count() - 1;
}

int TPictureList::ComposeImage(int baseIndex, int markIndex) {
    auto base = draws_.at(static_cast<size_t>(baseIndex));
    auto mark = draws_.at(static_cast<size_t>(markIndex));
    return Add([base, mark](int size) { return Pictures::ComposeImage(base(size), mark(size)); });
}

QImage TPictureList::Image(int index, int size) const {
    return draws_.at(static_cast<size_t>(index))(size);
}

const QIcon& TPictureList::Icon(int index) const {
    return icons_.at(static_cast<size_t>(index));
}

void FillTreePictures(TPictureList& list) {
    for (int i = 0; i < Pictures::kTreePictureCount; ++i) {
        list.Add([i](int size) { return Pictures::TreePicture(i, size); });
    }
}

void ComposeTreeImages(TPictureList& list) {
    list.ComposeImage(0, 6);                      // 7: document, locked
    list.ComposeImage(2, 6);                      // 8: branch with sub-branches, locked
    list.ComposeImage(1, 6);                      // 9: branch without sub-branches, locked
    const int modified = list.ComposeImage(0, 3); // 10: document, modified
    list.ComposeImage(modified, 6);               // 11: document, modified and locked
}

} // namespace ludex
