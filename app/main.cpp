// velmora-server-setup: the Velmora server installer. The program carries
// its payload appended to itself; Install unpacks and installs it.
#include "app/main_form.h"
#include "platform/toolkit/toolkit.h"

int main() {
  using namespace velmora;
  TApplication& application = Application();
  application.Initialize();
  application.SetTitle(kApplicationTitle);
  TFormMain form;
  application.Run(form);
  return 0;
}
