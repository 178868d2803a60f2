#include "dbaccess/zem2sql/zem2sql.h"

int main(int argc, char** argv) { return zem2sql_run(argc, argv); }
