;; Evaluations of the example installation, tested by the evaluator after each collection.
; More than 90 per cent of the sampled time busy.
eval HIGHCPU;
  cursor SYSMON;
  column PCT_BUSY;
  operator >;
  value 90;

; Any process blocked by another one.
eval BLOCKING;
  cursor BLOCKED;
  column COUNT!SPID;
  operator >;
  value 0;

; A database whose allocation passed one million pages.
eval BIGDB;
  cursor DBSPACE;
  column MAX!ALLOC_PAGES;
  operator >=;
  value 1000000;
end;
