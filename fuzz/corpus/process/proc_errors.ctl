;; A class out of range: the later value statements are skipped, and the block after it
;; is reported for the interval it seemed to have.
process collector;
  type ctlib;
  interval 60;
  class 77;
  hold N;
process historian;
  type local;
  interval 600;
end;
