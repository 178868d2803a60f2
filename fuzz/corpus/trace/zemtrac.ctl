;; Trace switches of the example installation: the server counters are shown whole at
;; each collection.
show_cursor SYSMON;
end;
