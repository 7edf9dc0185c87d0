// Ends itself through QtShell::ExitProcess with the code given as its first
// argument, after making every kind of toolkit object and writing buffered
// output that only a flush delivers.
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "shell/qt/qt_shell.h"

int main(int argc, char** argv) {
  std::string error;
  std::unique_ptr<veska::QtShell> shell = veska::QtShell::Create(&error);
  if (!shell) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 2;
  }
  if (argc > 2) shell->AddTrayIcon(1, shell->LoadImage(argv[2]));
  shell->SetTrayTooltip(1, "probe");
  shell->CreatePopupMenu();
  shell->OpenSubMenu("sub");
  shell->AddMenuItem(5, "item");
  shell->RegisterGlobalHotkey(veska::kModControl, 'Q');
  shell->WaitEvent(1);
  std::printf("printf-part ");
  std::cout << "stream-part";
  shell->ExitProcess(argc > 1 ? std::atoi(argv[1]) : 0);
}
