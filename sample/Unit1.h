// The form unit: Marrowby's one window, built from the stored description
// "TFORM1".
#pragma once

#include "Forms.h"

class TForm1 : public TForm {
public:
    TForm1();

    TCheckListBox* CheckListBox1;
};

extern TForm1* Form1;
