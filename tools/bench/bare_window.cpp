// The yardstick for scripts/bench: a bare Qt Widgets window of the main
// window's size with the same kinds of widgets on it (twelve coloured labels,
// a three-column table, five buttons, three of them in a group box, a combo
// box, a pop-up menu, two one-second timers), so the program's start, memory
// and idle CPU can be set against what Qt itself costs for such a window.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QWidget>

#include "ui/first_paint_probe.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setFixedSize(702, 480);

    // The palette's colours, as many as the program shows.
    const QColor colours[12] = {{255, 255, 255}, {255, 90, 140}, {255, 0, 134}, {124, 0, 158},
                                {40, 11, 53},    {0, 0, 255},    {0, 255, 236}, {0, 255, 0},
                                {255, 175, 0},   {255, 88, 0},   {255, 0, 0},   {212, 208, 200}};
    QLabel *labels[12];
    for (int i = 0; i < 12; ++i) {
        labels[i] = new QLabel(QStringLiteral("Label %1").arg(i + 1), &window);
        labels[i]->setGeometry(16, 16 + 32 * i, 209, 25);
        labels[i]->setAlignment(Qt::AlignCenter);
        labels[i]->setAutoFillBackground(true);
        QPalette palette = labels[i]->palette();
        palette.setColor(QPalette::Window, colours[i]);
        labels[i]->setPalette(palette);
    }

    auto *table = new QTableWidget(1, 3, &window);
    table->setGeometry(248, 40, 289, 305);
    table->setHorizontalHeaderLabels({QStringLiteral("FarbNr"), QStringLiteral("Bezeichnung"), QStringLiteral("Minuten")});
    table->verticalHeader()->hide();
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("5")));
    table->setItem(0, 1, new QTableWidgetItem(QStringLiteral("Orange")));
    table->setItem(0, 2, new QTableWidgetItem(QStringLiteral("1")));

    // Three buttons in a group box, as the program's row buttons are: the
    // style draws the box's frame from an image in Qt's resources.
    auto *group = new QGroupBox(QStringLiteral("Group box:"), &window);
    group->setGeometry(577, 16, 121, 145);
    for (int i = 0; i < 3; ++i) {
        auto *button = new QPushButton(QStringLiteral("Button %1").arg(i + 1), group);
        button->setGeometry(24, 24 + 40 * i, 75, 25);
    }
    for (int i = 3; i < 5; ++i) {
        auto *button = new QPushButton(QStringLiteral("Button %1").arg(i + 1), &window);
        button->setGeometry(585, 180 + 40 * (i - 3), 83, 25);
    }

    auto *combo = new QComboBox(&window);
    combo->addItems({QStringLiteral("keine Verbindung"), QStringLiteral("USB")});
    combo->setEnabled(false);
    combo->setGeometry(577, 360, 121, combo->sizeHint().height());

    // The pop-up menu, as the program's, opened by the right mouse button.
    auto *menu = new QMenu(&window);
    menu->addAction(QStringLiteral("Menu item"));
    window.setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(&window, &QWidget::customContextMenuRequested,
                     [&](const QPoint &pos) { menu->popup(window.mapToGlobal(pos)); });

    // Two timers as in the program; at rest its timers find nothing changed
    // and repaint nothing, so these set texts the labels already show.
    QTimer status;
    QObject::connect(&status, &QTimer::timeout, [&] { labels[10]->setText(QStringLiteral("Label 11")); });
    status.start(1000);
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] { labels[11]->setText(QStringLiteral("Label 12")); });
    clock.start(1000);

    tintrava::watchFirstPaint(&window);
    window.show();
    return app.exec();
}
