*> An order line in free format: no sequence area, lower case.
01 order-line.
   05 order-no      pic 9(8).          *> the order's number
   05 item-code     pic x(6) value "A-1. X".
   05 quantity      pic s9(4) sign trailing separate.
   05 price         pic 9(5)v99.
   05 filler        pic x(3).
   05 pic x(2).
