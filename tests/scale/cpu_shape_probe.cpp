// Converts a text file as the program does on a machine of a given number of
// CPUs (the blocks' shape for that many, a thread per converter), whatever
// this machine has, so that the peak memory of that shape can be measured.
//   cpu_shape_probe PARAMETER-FILE TEXT-FILE OUTPUT-FILE CPUS
// Exit status 0 after a conversion, 1 after an error, 2 on bad arguments.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/errors.h"
#include "convert/convert_file.h"
#include "convert/field_plan.h"
#include "params/parameter_file.h"
#include "textio/line_file.h"

int main(int argc, char** argv) {
  using namespace tabulon;
  if (argc != 5) return 2;
  FieldTable table;
  if (!LoadParameterFile(argv[1], table).empty()) return 2;
  const RecordPlan plan = MakePlan(table);
  try {
    LineFile text;
    BindName(text, argv[2]);
    OpenForReading(text);
    CheckIo();
    LineFile out;
    BindName(out, argv[3]);
    OpenForWriting(out);
    CheckIo();
    ConvertLines(text, out, plan, ',', static_cast<unsigned>(std::atoi(argv[4])));
    CloseLineFile(out);
    CloseLineFile(text);
    CheckIo();
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.KindName());
    return 1;
  }
  return 0;
}
