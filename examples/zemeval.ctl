;; Evaluations of the example installation, tested by the evaluator after each collection.
; More than 90 per cent of the sampled time busy.
eval HIGHCPU;
  cursor SRVSTAT;
  column PCT_BUSY;
  operator >;
  value 90;

; Any process blocked by another one (the count includes BLOCKED's dummy last row).
eval BLOCKING;
  cursor BLOCKED;
  column COUNT!SPID;
  operator >;
  value 1;

; A database whose allocation passed one million pages.
eval BIGDB;
  cursor DBSPACE;
  column MAX!ALLOC_PAGES;
  operator >=;
  value 1000000;
end;
