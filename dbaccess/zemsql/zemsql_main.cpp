#include "dbaccess/zemsql/zemsql.h"

int main(int argc, char** argv) { return zemsql_run(argc, argv); }
