;; Processes of the office installation.
; The collector runs on weekdays and Saturday mornings.
process collector;
  type ctlib;
  logon_id sa;
  password   Secret#1;
  server_id SYB1;
  Mon_Fri_start 0800;
  Mon_Fri_end
     1800;
  Saturday_start 0900;
  Saturday_end 1200;
  interval 60;
  continuous Y;
  class 1 2;
  sleep 5;
  machine_id hostA;

process evaluator;
  type local;
  interval 300;
  send_false Y;
  hold N;
  class 2;

; The historian's clock runs an hour ahead of the server's.
process historian;
  type local;
  time_offset 0100;
  Mon_Fri_start 0600;
  Mon_Fri_end 0700;
  holiday 2026/12/11 2026/12/01;
  interval 600;
  hold Yes;
end;

process ignored;
  type oracle;
