;; Cursors of the example installation, for a Sybase Adaptive Server Enterprise.
;; Each statement ends with ";"; the rest of its line is not read. A line that begins with
;; ";" is a comment. A fetched column is found by its name, exactly: every select names its
;; columns as its INSERT does.

; Server-wide activity counters, sampled every minute and kept in the history files.
; PCT_BUSY is computed from the three counters (the select fills its place with 0).
cursor SRVSTAT;
  INSERT INTO SRVSTAT (CPU_BUSY, IO_BUSY, IDLE, CONNS, PCT_BUSY)
    VALUES (:INT!CPU_BUSY, :INT!IO_BUSY, :INT!IDLE, :INT!CONNS, :FLOAT!PCT_BUSY);
  insert_select SELECT CPU_BUSY = @@cpu_busy, IO_BUSY = @@io_busy, IDLE = @@idle,
    CONNS = @@connections, PCT_BUSY = 0;
  math decimal 1 PCT_BUSY CPU_BUSY * 100 / ( CPU_BUSY + IO_BUSY + IDLE );
  interval 60;
  limit 1;
  class 1;
  history;
  samples 10;

; The server's name and connection limit, read once.
cursor SRVINFO;
  INSERT INTO SRVINFO (SRVNAME, MAXCONN) VALUES (:SRVNAME, :INT!MAXCONN);
  insert_select SELECT SRVNAME = @@servername, MAXCONN = @@max_connections;
  once;
  interval 3600;
  limit 1;
  class 1;

; The databases of the server, every five minutes, all day on every day; each run
; replaces the last, so that USERDBS names every database once.
cursor DBLIST;
  INSERT INTO DBLIST (DBID, NAME, STATUS) VALUES (:INT!DBID, :NAME, :INT!STATUS);
  insert_select SELECT DBID = dbid, NAME = name, STATUS = status FROM master..sysdatabases;
  in_list USERDBS using NAME;
  empty;
  interval 300;
  limit 200;
  class 1;
  mon_fri_start 0000;
  mon_fri_end 2400;
  saturday_end 2400;
  sunday_end 2400;

; The processes of the last sample. The common version comes first; a busy server (more
; than 200 connections at the last SRVSTAT sample) leaves the system processes out. The
; settings after endif reach both versions.
cursor PROCS;
  INSERT INTO PROCS (SPID, STATUS, LOGIN, DBNAME, CPU, PIO, CMD, BLOCKED)
    VALUES (:INT!SPID, :STATUS, :LOGIN, :DBNAME, :INT!CPU, :INT!PIO, :CMD, :INT!BLOCKED);
  pre_cursor SRVSTAT;
  if SRVSTAT.CONNS <= 200;
    insert_select SELECT SPID = spid, STATUS = status, LOGIN = suser_name(suid),
      DBNAME = db_name(dbid), CPU = cpu, PIO = physical_io, CMD = cmd, BLOCKED = blocked
      FROM master..sysprocesses;
  else;
    insert_select SELECT SPID = spid, STATUS = status, LOGIN = suser_name(suid),
      DBNAME = db_name(dbid), CPU = cpu, PIO = physical_io, CMD = cmd, BLOCKED = blocked
      FROM master..sysprocesses WHERE suid > 0;
    limit 1000;
  endif;
  interval 60;
  limit 500;
  empty;
  class 1;
  decode STATUS = 'sleeping' , 'SLEEP';
  decode STATUS = 'runnable' , 'RUN';
  decode CPU > 1000000 and < 100000000 , 1000000;
  base DBLIST on DBNAME -> NAME;
  column_exit LOGIN SUBSTR ( 1 , 12 );
  column_exit CMD L_JUSTIFY;
  set_len CMD 16;
  load COUNT SPID -> PTOTAL.NPROC;
  load SUM CPU -> PTOTAL.CPU;
  load SPID -> PTOTAL.TOPSPID FROM MAX CPU;
  load COUNT SPID -> PTOTAL.NRUN WHERE STATUS = 'RUN';

; Totals over the processes, filled by the loads of PROCS.
cursor PTOTAL;
  INSERT INTO PTOTAL (NPROC, CPU, TOPSPID, NRUN)
    VALUES (:INT!NPROC, :INT!CPU, :INT!TOPSPID, :INT!NRUN);
  virtual;

; Blocked processes of the last sample; a last row marks the end of the sample.
cursor BLOCKED;
  INSERT INTO BLOCKED (SPID, BLOCKER, WAITSEC)
    VALUES (:INT!SPID, :INT!BLOCKER, :INT!WAITSEC);
  insert_select SELECT SPID = spid, BLOCKER = blocked, WAITSEC = time_blocked
    FROM master..sysprocesses WHERE blocked > 0;
  interval 60;
  limit 100;
  empty;
  class 2;
  dummy_last_row;

; Space allocated per database listed by DBLIST (its in-list USERDBS), in the interface
; table described by DBSPACE.ULV; run once for the server (SRVINFO's row), when the server
; accepts connections.
cursor DBSPACE;
  INSERT !DBSPACE;
  insert_select SELECT DBNAME = db_name(dbid), ALLOC_PAGES = sum(size) FROM master..sysusages
    WHERE db_name(dbid) IN [DBLIST.USERDBS GROUP BY dbid;
  iterate SRVINFO;
  iterate_where MAXCONN > 0;
  interval 900;
  limit 200;
  class 1;

; Locks, read only when a requester asks for them, and kept for 30 seconds.
cursor LOCKS;
  INSERT INTO LOCKS (SPID, DBID, OBJID, LOCKTYPE)
    VALUES (:INT!SPID, :INT!DBID, :INT!OBJID, :INT!LOCKTYPE);
  insert_select SELECT SPID = spid, DBID = dbid, OBJID = id, LOCKTYPE = type
    FROM master..syslocks;
  demand;
  stale 30;
  limit 1000;

; Free space of the host's root file system, from a script run by the fetch exit with a
; time limit of 60 seconds; the names of the select list are dictionary entries. df's
; output is read as blank-separated words, its header line skipped.
cursor DISKFREE;
  INSERT INTO DISKFREE (FS_NAME, FS_KB, FS_USED, FS_AVAIL, FS_PCT, FS_MOUNT)
    VALUES (:FS_NAME, :INT!FS_KB, :INT!FS_USED, :INT!FS_AVAIL, :FS_PCT, :FS_MOUNT);
  fetch_exit fetchx2t60;
  start_after 1;
  script df -kP /;
  insert_select SELECT FS_NAME, FS_KB, FS_USED, FS_AVAIL, FS_PCT, FS_MOUNT FROM script;
  interval 600;
  limit 10;
  class 2;

; The monitor counters of the sample, as the monitor cursors below read them: counter group,
; counter name and value. Emptied at each run, so that a sum covers the current sample only.
cursor SYSMON;
  INSERT INTO SYSMON (GROUPNAME, FLDNAME, FLDVALUE)
    VALUES (:GROUPNAME, :FLDNAME, :INT!FLDVALUE);
  insert_select SELECT GROUPNAME = group_name, FLDNAME = field_name, FLDVALUE = value
    FROM master..sysmonitors;
  empty;
  interval 60;
  limit 9999;
  class 1;

; The sample's start and stop, in seconds since midnight: the minute up to now (a sample
; that began before midnight starts below 0).
cursor ZEMV;
  INSERT INTO ZEMV (STARTTIME, STOPTIME) VALUES (:INT!STARTTIME, :INT!STOPTIME);
  insert_select SELECT STARTTIME = datediff(ss, convert(char(8), getdate(), 112), getdate())
    - 60, STOPTIME = datediff(ss, convert(char(8), getdate(), 112), getdate());
  empty;
  interval 60;
  limit 1;
  class 1;

; The number of engines configured.
cursor SYSCCONF;
  INSERT INTO SYSCCONF (NUMENG) VALUES (:INT!NUMENG);
  insert_select SELECT NUMENG = c.value FROM master..syscurconfigs c, master..sysconfigures f
    WHERE c.config = f.config AND f.name = 'max online engines';
  empty;
  interval 60;
  limit 1;
  class 1;

; The database devices: name, operating-system path and the counter group of each in
; SYSMON.
cursor SYSDEV;
  INSERT INTO SYSDEV (DEVNAME, OSNAME, DISKMON) VALUES (:DEVNAME, :OSNAME, :DISKMON);
  insert_select SELECT DEVNAME = name, OSNAME = phyname,
    DISKMON = 'disk_' + convert(varchar(10), vdevno) FROM master..sysdevices
    WHERE status & 2 = 2;
  empty;
  interval 60;
  limit 256;
  class 1;

; Monitor cursors: their rows are computed in the collector (fetch exit fetchxi1) from the
; rows of SYSMON, ZEMV, SYSCCONF and SYSDEV just above, which run before them in the same
; interval. The names of each select list are dictionary entries.

; Engine activity, one line of totals over the engines.
cursor ZEMENGS;
  INSERT INTO ZEMENGS (ENG_NUM, ENG_ELAPSED, ENG_XACTS, ENG_IDLE, ENG_BUSY, ENG_SLEEPS,
      ENG_SWITCHES, ENG_MAXAIO, ENG_DPOLLAIO, ENG_PKTS_IN, ENG_BYTES_IN, ENG_PKTS_OUT,
      ENG_BYTES_OUT)
    VALUES (:INT!ENG_NUM, :INT!ENG_ELAPSED, :INT!ENG_XACTS, :INT!ENG_IDLE, :INT!ENG_BUSY,
      :INT!ENG_SLEEPS, :INT!ENG_SWITCHES, :INT!ENG_MAXAIO, :INT!ENG_DPOLLAIO,
      :INT!ENG_PKTS_IN, :INT!ENG_BYTES_IN, :INT!ENG_PKTS_OUT, :INT!ENG_BYTES_OUT);
  fetch_exit fetchxi1;
  script zemsmon ZEMENGS;
  insert_select SELECT ENG_NUM, ENG_ELAPSED, ENG_XACTS, ENG_IDLE, ENG_BUSY, ENG_SLEEPS,
    ENG_SWITCHES, ENG_MAXAIO, ENG_DPOLLAIO, ENG_PKTS_IN, ENG_BYTES_IN, ENG_PKTS_OUT,
    ENG_BYTES_OUT FROM script;
  empty;
  interval 60;
  limit 1;
  class 1;

; Device I/O, one line per device of SYSDEV: reads, writes, all I/O, and the semaphore hits
; and misses, each per second, per transaction, counted and as a percentage.
cursor ZEMSDEVD;
  INSERT INTO ZEMSDEVD (DEV_NAME, DEV_OSNAME, DEV_READS_S, DEV_READS_X, DEV_READS,
      DEV_READS_PCT, DEV_WRITES_S, DEV_WRITES_X, DEV_WRITES, DEV_WRITES_PCT, DEV_IO_S,
      DEV_IO_X, DEV_IO, DEV_IO_PCT, DEV_HITS_S, DEV_HITS_X, DEV_HITS, DEV_HITS_PCT,
      DEV_MISSES_S, DEV_MISSES_X, DEV_MISSES, DEV_MISSES_PCT)
    VALUES (:DEV_NAME, :DEV_OSNAME, :FLOAT!DEV_READS_S, :FLOAT!DEV_READS_X, :INT!DEV_READS,
      :FLOAT!DEV_READS_PCT, :FLOAT!DEV_WRITES_S, :FLOAT!DEV_WRITES_X, :INT!DEV_WRITES,
      :FLOAT!DEV_WRITES_PCT, :FLOAT!DEV_IO_S, :FLOAT!DEV_IO_X, :INT!DEV_IO,
      :FLOAT!DEV_IO_PCT, :FLOAT!DEV_HITS_S, :FLOAT!DEV_HITS_X, :INT!DEV_HITS,
      :FLOAT!DEV_HITS_PCT, :FLOAT!DEV_MISSES_S, :FLOAT!DEV_MISSES_X, :INT!DEV_MISSES,
      :FLOAT!DEV_MISSES_PCT);
  fetch_exit fetchxi1;
  script zemsmon ZEMSDEVD;
  insert_select SELECT DEV_NAME, DEV_OSNAME, DEV_READS_S, DEV_READS_X, DEV_READS,
    DEV_READS_PCT, DEV_WRITES_S, DEV_WRITES_X, DEV_WRITES, DEV_WRITES_PCT, DEV_IO_S,
    DEV_IO_X, DEV_IO, DEV_IO_PCT, DEV_HITS_S, DEV_HITS_X, DEV_HITS, DEV_HITS_PCT,
    DEV_MISSES_S, DEV_MISSES_X, DEV_MISSES, DEV_MISSES_PCT FROM script;
  empty;
  interval 60;
  limit 256;
  class 1;

; Transaction log activity (twelve lines), SQL activity (eleven) and task context switches
; (sixteen): each line a label and a count per second, per transaction, counted and as a
; percentage, in the same five dictionary entries.
cursor ZEMLOGD;
  INSERT INTO ZEMLOGD (MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT)
    VALUES (:MON_LABEL, :FLOAT!MON_PER_SEC, :FLOAT!MON_PER_XACT, :INT!MON_COUNT,
      :FLOAT!MON_PCT);
  fetch_exit fetchxi1;
  script zemsmon ZEMLOGD;
  insert_select SELECT MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT FROM script;
  empty;
  interval 60;
  limit 20;
  class 1;

cursor ZEMSQLD;
  INSERT INTO ZEMSQLD (MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT)
    VALUES (:MON_LABEL, :FLOAT!MON_PER_SEC, :FLOAT!MON_PER_XACT, :INT!MON_COUNT,
      :FLOAT!MON_PCT);
  fetch_exit fetchxi1;
  script zemsmon ZEMSQLD;
  insert_select SELECT MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT FROM script;
  empty;
  interval 60;
  limit 20;
  class 1;

cursor ZEMTSKD;
  INSERT INTO ZEMTSKD (MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT)
    VALUES (:MON_LABEL, :FLOAT!MON_PER_SEC, :FLOAT!MON_PER_XACT, :INT!MON_COUNT,
      :FLOAT!MON_PCT);
  fetch_exit fetchxi1;
  script zemsmon ZEMTSKD;
  insert_select SELECT MON_LABEL, MON_PER_SEC, MON_PER_XACT, MON_COUNT, MON_PCT FROM script;
  empty;
  interval 60;
  limit 20;
  class 1;
end;
