// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/OrvaneApp.h"

int main(int argc, char** argv)
{
    COrvaneApp theApp;
    return theApp.InitInstance(argc, argv);
}
