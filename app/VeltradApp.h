#pragma once
// The application object: prepares the toolkit, touches the one start-up
// setting, runs the main window once and ends with it. Arguments on the
// command line change nothing (the toolkit still reads its own, such as
// -platform).

#include <QApplication>

namespace veltrad {

class CVeltradApp final : public QApplication {
    Q_OBJECT

public:
    CVeltradApp(int& argc, char** argv);

    // Runs the program: the setting, then the main window until it ends in
    // any way, its run stopped and its worker joined. Always false: there is
    // no event loop of the application's own to run afterwards.
    bool InitInstance();
};

}  // namespace veltrad
