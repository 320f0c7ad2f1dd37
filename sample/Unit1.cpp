#include "Unit1.h"

TForm1* Form1 = nullptr;

TForm1::TForm1() : TForm(LoadFormSpec("TForm1")), CheckListBox1(&FindCheckListBox("CheckListBox1")) {}
