// Process entry: the application object makes the Qt application, the main queue and the
// delegate, launches, and runs the event loop until the window closes.

#include "app/Application.h"

int main(int argc, char** argv) {
    Application application(argc, argv);
    application.launch();
    return application.exec();
}
