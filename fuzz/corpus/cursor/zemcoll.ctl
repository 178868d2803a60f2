;; Cursors of the example installation, for a Sybase Adaptive Server Enterprise.
;; Each statement ends with ";"; the rest of its line is not read. A line that begins with
;; ";" is a comment.

; Server-wide activity counters, sampled every minute and kept in the history files.
; PCT_BUSY is computed from the three counters (the select fills its place with 0).
cursor SYSMON;
  INSERT INTO SYSMON (CPU_BUSY, IO_BUSY, IDLE, CONNS, PCT_BUSY)
    VALUES (:INT!CPU_BUSY, :INT!IO_BUSY, :INT!IDLE, :INT!CONNS, :FLOAT!PCT_BUSY);
  insert_select SELECT @@cpu_busy, @@io_busy, @@idle, @@connections, 0;
  math decimal 1 PCT_BUSY CPU_BUSY * 100 / ( CPU_BUSY + IO_BUSY + IDLE );
  interval 60;
  limit 1;
  class 1;
  history;
  samples 10;

; The server's name and connection limit, read once.
cursor SRVINFO;
  INSERT INTO SRVINFO (SRVNAME, MAXCONN) VALUES (:SRVNAME, :INT!MAXCONN);
  insert_select SELECT @@servername, @@max_connections;
  once;
  interval 3600;
  limit 1;
  class 1;

; The databases of the server, every five minutes, all day on every day.
cursor DBLIST;
  INSERT INTO DBLIST (DBID, NAME, STATUS) VALUES (:INT!DBID, :NAME, :INT!STATUS);
  insert_select SELECT dbid, name, status FROM master..sysdatabases;
  in_list USERDBS using NAME;
  interval 300;
  limit 200;
  class 1;
  mon_fri_start 0000;
  mon_fri_end 2400;
  saturday_end 2400;
  sunday_end 2400;

; The processes. A busy server (more than 200 connections at the last SYSMON sample)
; leaves the system processes out; the settings after endif reach both versions.
cursor PROCS;
  INSERT INTO PROCS (SPID, STATUS, LOGIN, DBNAME, CPU, PIO, CMD, BLOCKED)
    VALUES (:INT!SPID, :STATUS, :LOGIN, :DBNAME, :INT!CPU, :INT!PIO, :CMD, :INT!BLOCKED);
  pre_cursor SYSMON;
  if SYSMON.CONNS > 200;
    insert_select SELECT spid, status, suser_name(suid), db_name(dbid), cpu, physical_io,
      cmd, blocked FROM master..sysprocesses WHERE suid > 0;
    limit 1000;
  else;
    insert_select SELECT spid, status, suser_name(suid), db_name(dbid), cpu, physical_io,
      cmd, blocked FROM master..sysprocesses;
  endif;
  interval 60;
  limit 500;
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

; Blocked processes; a last row marks the end of each sample.
cursor BLOCKED;
  INSERT INTO BLOCKED (SPID, BLOCKER, WAITSEC)
    VALUES (:INT!SPID, :INT!BLOCKER, :INT!WAITSEC);
  insert_select SELECT spid, blocked, time_blocked FROM master..sysprocesses
    WHERE blocked > 0;
  interval 60;
  limit 100;
  class 2;
  dummy_last_row;

; Space allocated per database listed by DBLIST (its in-list USERDBS), in the interface
; table described by DBSPACE.ULV; run once for the server (SRVINFO's row), when the server
; accepts connections.
cursor DBSPACE;
  INSERT !DBSPACE;
  insert_select SELECT db_name(dbid), sum(size) FROM master..sysusages
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
  insert_select SELECT spid, dbid, id, type FROM master..syslocks;
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
end;
