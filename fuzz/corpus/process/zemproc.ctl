;; Processes of the example installation: one Sybase ASE server watched from its own host.
; The collector connects through Client-Library; the logon id, the password and the
; server id come from the environment (COLL_LOGONID, COLL_PASSWORD, COLL_SERVERID).
process collector;
  type ctlib;
  interval 60;
  continuous Y;
  class 1 2;
  sleep 5;

; Tests the conditions of the evaluation file after each collection.
process evaluator;
  type local;
  interval 60;
  send_false N;
  class 2;

; Appends the rows of history cursors to their history files.
process historian;
  type local;
  interval 300;
  class 1;

; Serves the requests of the agent framework and of zovprobe.
process ulv;
  type local;
  interval 60;
  class 1 2;
end;
