// Sequence files read and written as the program does, for scripts that hand
// them to other programs:
//
//     sequence_file_tool write PATH   steps on stdin, one "number<TAB>name<TAB>minutes" a line
//     sequence_file_tool read PATH    the steps on stdout in the same form; status 1 and
//                                     the error box's text on stderr when refused
#include <QCoreApplication>
#include <QString>

#include <optional>
#include <iostream>
#include <string>
#include <vector>

#include "lamp/integer_rule.h"
#include "storage/sequence_storage.h"

namespace {

int usage()
{
    std::cerr << "usage: sequence_file_tool write|read PATH\n";
    return 2;
}

int write(const QString &path)
{
    std::vector<tintrava::SequenceStep> steps;
    std::string line;
    while (std::getline(std::cin, line)) {
        const auto tab1 = line.find('\t');
        const auto tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        const auto number = tintrava::parseInteger(line.substr(0, tab1));
        const auto minutes = tab2 == std::string::npos ? std::nullopt : tintrava::parseInteger(line.substr(tab2 + 1));
        if (!number || !minutes) {
            std::cerr << "not a step: " << line << "\n";
            return 2;
        }
        steps.push_back({int(*number), line.substr(tab1 + 1, tab2 - tab1 - 1), int(*minutes)});
    }
    QString error;
    if (!tintrava::saveSequenceFile(path, steps, &error)) {
        std::cerr << error.toStdString() << "\n";
        return 1;
    }
    return 0;
}

int read(const QString &path)
{
    const tintrava::SequenceFileLoad load = tintrava::loadSequenceFile(path);
    if (!load.ok) {
        std::cerr << load.errorText.toStdString() << "\n";
        return 1;
    }
    for (const tintrava::SequenceStep &step : load.steps)
        std::cout << step.number << '\t' << step.name << '\t' << step.minutes << '\n';
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return usage();
    const std::string command = argv[1];
    const QString path = QString::fromLocal8Bit(argv[2]);
    if (command == "write")
        return write(path);
    if (command == "read")
        return read(path);
    return usage();
}
