// The program Velmora: the crash report first, then the application object.
#include "platform/CrashHandler.h"
#include "ui/CodecApp.h"

CCodecApp theApp;

int main(int argc, char** argv) {
    CCrashHandler::Install();
    return AfxWinMain(argc, argv);
}
