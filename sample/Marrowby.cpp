// The program unit: start the toolkit, create the form, run until it closes.
#include "Unit1.h"

int main() {
    try {
        Application.Initialize();
        Application.CreateForm(Form1);
        return Application.Run();
    } catch (const std::exception& error) {
        Application.ShowException(error);
        return 1;
    }
}
