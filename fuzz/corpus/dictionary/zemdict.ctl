;; Dictionary of the example installation: the values a script exit returns, typed and
;; sized, the columns of the virtual cursor PTOTAL, and two settings the cursors may read.
name FS_NAME;
  type CHAR(64);
name FS_KB;
  type INTEGER;
name FS_USED;
  type INTEGER;
name FS_AVAIL;
  type INTEGER;
name FS_PCT;
  type CHAR(8);
name FS_MOUNT;
  type CHAR(64);
name BUSY_CONNS;
  type INTEGER;
  initial 200;
name NPROC;
  type INTEGER;
name CPU;
  type INTEGER;
name TOPSPID;
  type INTEGER;
name NRUN;
  type INTEGER;
name SITE;
  type CHAR(16);
  initial example;
end;
