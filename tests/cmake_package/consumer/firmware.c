/* Stands in for a firmware image: the consumer project only needs a target
   that links. */
int main(void) { return 0; }
