#include <iostream>
#include <string>
#include <vector>

#include "dbengine/sql/tools/orv_sql_tool.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> args(argv + 1, argv + argc);
  const int result = orv::tools::RunOrvSql(args, std::cout, std::cerr);
  std::cout.flush();
  return result;
}
