// The yardstick for scripts/bench: a bare Qt Widgets window of the main
// window's size with about as much on it (a dozen labels, a three-column
// table, two one-second timers), so the program's start, memory and idle CPU
// can be set against what Qt itself costs.
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
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

    QLabel *labels[12];
    for (int i = 0; i < 12; ++i) {
        labels[i] = new QLabel(QStringLiteral("Label %1").arg(i + 1), &window);
        labels[i]->setGeometry(16, 16 + 32 * i, 209, 25);
        labels[i]->setAutoFillBackground(true);
    }

    auto *table = new QTableWidget(1, 3, &window);
    table->setParent(&window);
    table->setGeometry(248, 40, 300, 320);
    table->setHorizontalHeaderLabels({QStringLiteral("FarbNr"), QStringLiteral("Bezeichnung"), QStringLiteral("Minuten")});
    table->verticalHeader()->hide();
    table->setItem(0, 0, new QTableWidgetItem(QStringLiteral("5")));
    table->setItem(0, 1, new QTableWidgetItem(QStringLiteral("Orange")));
    table->setItem(0, 2, new QTableWidgetItem(QStringLiteral("1")));

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
